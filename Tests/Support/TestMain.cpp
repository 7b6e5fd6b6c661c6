// Shared main of the test binaries: runs a child-process role when asked
// (tests that need a second process start their own binary again), else the
// tests.
#include <gtest/gtest.h>

#include "Tests/Support/ChildProcess.h"

int main(int argc, char** argv) {
    int childExit = 0;
    if (vtest::RunChildRoleIfAsked(argc, argv, &childExit)) return childExit;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
