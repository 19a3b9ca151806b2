// Unit tests that need the run state as start-up step 0 leaves it: each test
// starts from a zeroed state with its lists and heap, and releases them all.
#pragma once
#include <gtest/gtest.h>
#include "startup/startup.h"
#include "startup/app_state.h"
#include "package/package.h"
#include "script/script.h"
#include "environment/environment.h"
#include "wizard/wizard.h"
#include "engine/engine.h"
#include "engine/install_log.h"
#include "uninstall/uninstall.h"

// Every record of the run state as the process starts: zeroed.
inline void ZeroRunState()
{
    ZeroMemory(&g_app, sizeof(g_app));
    ZeroMemory(&g_package, sizeof(g_package));
    ZeroMemory(&g_product, sizeof(g_product));
    ZeroMemory(g_pages, sizeof(g_pages));
    ZeroMemory(g_workLists, sizeof(g_workLists));
    ZeroMemory(&g_requirements, sizeof(g_requirements));
    ZeroMemory(&g_appearance, sizeof(g_appearance));
    ZeroMemory(&g_drawing, sizeof(g_drawing));
    ZeroMemory(&g_wizard, sizeof(g_wizard));
    ZeroMemory(&g_install, sizeof(g_install));
    ZeroMemory(&g_log, sizeof(g_log));
    ZeroMemory(&g_uninstall, sizeof(g_uninstall));
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
