// Child processes for tests that need a second process (the named mutex, many
// clients): the test binary starts itself again in a named role.
//
//   VTEST_CHILD_ROLE(holdMutex) { ...; return 0; }   // defines a role
//   auto child = vtest::SpawnChild("holdMutex", {"arg"});
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtest {

using ChildRole = int (*)(const std::vector<std::string>& args);

bool RegisterChildRole(const char* name, ChildRole role);
// When argv asks for a role ("--vtest-child ROLE args..."), runs it and
// returns true with its exit code.
bool RunChildRoleIfAsked(int argc, char** argv, int* exitCode);

struct Child {
    intptr_t handle = 0;  // pid on POSIX, process HANDLE on Windows
    uint32_t id = 0;
    bool valid() const { return handle != 0; }
};

Child SpawnChild(const std::string& role, const std::vector<std::string>& args);
// True when the child ended within the time-out (real milliseconds).
bool WaitChild(Child& child, uint32_t timeoutMs, int* exitCode);
// Kills the child at once (SIGKILL / TerminateProcess) and reaps it.
void KillChild(Child& child);

}  // namespace vtest

#define VTEST_CHILD_ROLE(name)                                                           \
    static int vtestRole_##name(const std::vector<std::string>& args);                   \
    static const bool vtestRoleRegistered_##name = ::vtest::RegisterChildRole(#name, vtestRole_##name); \
    static int vtestRole_##name(const std::vector<std::string>& args)
