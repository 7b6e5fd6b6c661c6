// Child processes on Windows: CreateProcess of the test binary itself.
#include <windows.h>

#include <string>

#include "Tests/Support/ChildProcess.h"

namespace vtest {
namespace {

// Quotes one argument by the rules CommandLineToArgvW reads.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') out.append(backslashes * 2 + 1, '\\');
        else out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace

Child SpawnChild(const std::string& role, const std::vector<std::string>& args) {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    Child child;
    if (n == 0 || n >= sizeof exe) return child;
    std::string line = Quote(exe) + " --vtest-child " + Quote(role);
    for (const std::string& a : args) line += " " + Quote(a);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(exe, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return child;
    CloseHandle(pi.hThread);
    child.handle = reinterpret_cast<intptr_t>(pi.hProcess);
    child.id = pi.dwProcessId;
    return child;
}

bool WaitChild(Child& child, uint32_t timeoutMs, int* exitCode) {
    if (!child.valid()) return false;
    HANDLE h = reinterpret_cast<HANDLE>(child.handle);
    if (WaitForSingleObject(h, timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(h, &code);
    if (exitCode) *exitCode = static_cast<int>(code);
    CloseHandle(h);
    child = Child();
    return true;
}

void KillChild(Child& child) {
    if (!child.valid()) return;
    HANDLE h = reinterpret_cast<HANDLE>(child.handle);
    TerminateProcess(h, 137);
    WaitForSingleObject(h, 10000);
    CloseHandle(h);
    child = Child();
}

}  // namespace vtest
