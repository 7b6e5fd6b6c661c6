#include <windows.h>

#include <new>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsThread.h"

namespace vos {
namespace {

struct StartInfo {
    OsThreadProc proc;
    void* arg;
};

// The procedure has the library's calling convention, the thread routine
// Win32's; this routine bridges the two.
DWORD WINAPI ThreadStart(LPVOID p) {
    StartInfo info = *static_cast<StartInfo*>(p);
    delete static_cast<StartInfo*>(p);
    return info.proc(info.arg);
}

}  // namespace

OsHandle ThreadCreate(OsThreadProc proc, void* arg) {
    if (!proc) return nullptr;
    StartInfo* info = new (std::nothrow) StartInfo{proc, arg};
    if (!info) return nullptr;
    HANDLE h = CreateThread(nullptr, 0, ThreadStart, info, 0, nullptr);
    if (!h) delete info;
    return h;
}

uint32_t ThreadWait(OsHandle thread, uint32_t timeoutMs) {
    if (!thread) return kWaitFailed;
    DWORD rc = WaitForSingleObject(thread, OsRealMs(timeoutMs));
    if (rc == WAIT_OBJECT_0) return kWaitObject0;
    if (rc == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

bool ThreadTerminate(OsHandle thread, uint32_t exitCode) {
    return thread && TerminateThread(thread, exitCode) != FALSE;
}

bool ThreadGetExitCode(OsHandle thread, uint32_t* exitCode) {
    DWORD code = 0;
    if (!thread || !exitCode || !GetExitCodeThread(thread, &code)) return false;
    *exitCode = code;
    return true;
}

void ThreadClose(OsHandle thread) {
    if (thread) CloseHandle(thread);
}

uint32_t ThreadCurrentId() { return GetCurrentThreadId(); }

}  // namespace vos
