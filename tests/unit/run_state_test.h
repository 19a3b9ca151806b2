// Unit tests that need the run state as start-up step 0 leaves it: each test
// starts from a zeroed state with its lists and heap, and releases them all.
#pragma once
#include <gtest/gtest.h>
#include "startup/startup.h"
#include "environment/environment.h"
#include "engine/engine.h"

class RunStateTest : public testing::Test {
protected:
    void SetUp() override
    {
        ZeroMemory(&g_app, sizeof(g_app));
        ZeroMemory(&g_requirements, sizeof(g_requirements));
        ZeroMemory(&g_install, sizeof(g_install));
        ASSERT_TRUE(StartupStep(0));
    }
    void TearDown() override
    {
        Cleanup();
        CreatePrivateHeap();
    }
};
