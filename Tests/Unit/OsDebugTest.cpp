// Debugger output: the test hook and, on POSIX, the output file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Pc/Os/OsDebug.h"
#include "Tests/Support/HostFiles.h"

namespace fs = std::filesystem;

namespace {

TEST(OsDebug, HookSeesEveryTextInOrder) {
    std::vector<std::string> seen;
    vos::SetDebugOutputHook([&](const char* text) { seen.push_back(text); });
    vos::DebugOutput("first\r\n");
    vos::DebugOutput(nullptr);
    vos::DebugOutput("second");
    vos::SetDebugOutputHook(nullptr);
    vos::DebugOutput("after");
    EXPECT_EQ((std::vector<std::string>{"first\r\n", "second"}), seen);
}

#if !defined(_WIN32)
TEST(OsDebug, PosixAppendsToTheFileNamedByTheEnvironment) {
    fs::path file = fs::temp_directory_path() /
                    ("vantro-debug-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    { std::ofstream(file) << "old|"; }
    unsetenv("VANTRO_DEBUG_OUTPUT");
    vos::DebugOutput("nowhere");
    setenv("VANTRO_DEBUG_OUTPUT", file.c_str(), 1);
    vos::DebugOutput("one\r\n");
    vos::DebugOutput("two");
    unsetenv("VANTRO_DEBUG_OUTPUT");
    vos::DebugOutput("gone");
    EXPECT_EQ("old|one\r\ntwo", vtest::ReadText(file));
    fs::remove(file);
}
#endif

}  // namespace
