// Test main for the unit tests: the runtime's heap, which must exist before
// any test.
#include <gtest/gtest.h>
#include "support/support.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    CreatePrivateHeap();
    return RUN_ALL_TESTS();
}
