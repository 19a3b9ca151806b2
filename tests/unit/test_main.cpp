// Test main for the unit tests: the run state that the runtime's units share,
// and the runtime's heap, which must exist before any test.
#include <gtest/gtest.h>
#include "startup/app_state.h"

AppState g_app;

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    CreatePrivateHeap();
    return RUN_ALL_TESTS();
}
