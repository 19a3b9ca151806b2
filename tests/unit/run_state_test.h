// Unit tests that need the run state as start-up step 0 leaves it: each test
// starts from a zeroed state with its lists and heap, and releases them all.
#pragma once
#include <gtest/gtest.h>
#include "startup/startup.h"
#include "package/package.h"
#include "environment/environment.h"
#include "engine/engine.h"

// Every record of the run state as the process starts: zeroed.
inline void ZeroRunState()
{
    ZeroMemory(&g_app, sizeof(g_app));
    ZeroMemory(&g_package, sizeof(g_package));
    ZeroMemory(&g_requirements, sizeof(g_requirements));
    ZeroMemory(&g_install, sizeof(g_install));
}

class RunStateTest : public testing::Test {
protected:
    void SetUp() override
    {
        ZeroRunState();
        ASSERT_TRUE(StartupStep(0));
    }
    void TearDown() override
    {
        Cleanup();
        CreatePrivateHeap();
    }
};
