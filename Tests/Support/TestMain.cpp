// Shared main of the test binaries: runs a child-process role when asked
// (tests that need a second process start their own binary again), else the
// tests. The library is linked in statically here, with no entry point of a
// shared library around it, so main does what loading and unloading it would
// do: process attach first, process detach last (which closes the
// communication mutex's handle and whatever device link is left).
#include <gtest/gtest.h>

#include "Pc/Log/Lifecycle.h"
#include "Tests/Support/ChildProcess.h"

int main(int argc, char** argv) {
    ProcessAttach();
    int exitCode = 0;
    if (!vtest::RunChildRoleIfAsked(argc, argv, &exitCode)) {
        ::testing::InitGoogleTest(&argc, argv);
        exitCode = RUN_ALL_TESTS();
    }
    ProcessDetach();
    return exitCode;
}
