#include "Tests/Support/ChildProcess.h"

#include <cstring>
#include <map>
#include <string>

namespace vtest {
namespace {

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

}  // namespace

bool RegisterChildRole(const char* name, ChildRole role) {
    Roles()[name] = role;
    return true;
}

bool RunChildRoleIfAsked(int argc, char** argv, int* exitCode) {
    if (argc < 3 || std::strcmp(argv[1], "--vtest-child") != 0) return false;
    auto it = Roles().find(argv[2]);
    if (it == Roles().end()) {
        *exitCode = 127;
        return true;
    }
    std::vector<std::string> args(argv + 3, argv + argc);
    *exitCode = it->second(args);
    return true;
}

}  // namespace vtest
