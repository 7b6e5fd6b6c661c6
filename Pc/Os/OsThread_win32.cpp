// Threads on Win32 threads, with waits that also work under the loader lock.
//
// When an application calls FreeLibrary while a link is open, process detach
// (DllMain) closes the link and waits for its threads while the loader lock
// is held. A Win32 thread that leaves its routine must take that lock to send
// DLL_THREAD_DETACH before its handle is signalled, so a wait on the handle
// would never end there. Each thread therefore also signals a "returned"
// event of its own as the last step of its procedure, and ThreadWait ends on
// either: the handle (the thread has ended, or was killed by process exit)
// or the event (the procedure has returned; the thread is on its way out).
// In the second case ThreadWait still gives the thread a short grace on its
// handle, so that it has left this module's code before the caller goes on
// and possibly unloads the module.
//
// A thread object is shared by the handle and the running thread and freed by
// whichever lets go last (the handle, for a thread that was killed).
#include <windows.h>

#include <new>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsThread.h"

namespace vos {
namespace {

// Real milliseconds a returned thread gets to finish leaving; under the loader
// lock the wait runs out, otherwise the handle is signalled at once.
constexpr DWORD kLeaveGraceMs = 200;

struct Thread {
    HANDLE handle = nullptr;
    HANDLE returned = nullptr;  // manual-reset; set when proc has returned
    OsThreadProc proc = nullptr;
    void* arg = nullptr;
    DWORD returnCode = 0;
    LONG refs = 2;  // the handle and the running thread
};

void Release(Thread* t) {
    if (InterlockedDecrement(&t->refs) != 0) return;
    if (t->returned) CloseHandle(t->returned);
    if (t->handle) CloseHandle(t->handle);
    delete t;
}

// The procedure has the library's calling convention, the thread routine
// Win32's; this routine bridges the two.
DWORD WINAPI ThreadStart(LPVOID p) {
    Thread* t = static_cast<Thread*>(p);
    const DWORD code = t->proc(t->arg);
    t->returnCode = code;
    SetEvent(t->returned);
    Release(t);
    return code;
}

Thread* FromHandle(OsHandle h) { return static_cast<Thread*>(h); }

bool HasReturned(Thread* t) { return WaitForSingleObject(t->returned, 0) == WAIT_OBJECT_0; }

}  // namespace

OsHandle ThreadCreate(OsThreadProc proc, void* arg) {
    if (!proc) return nullptr;
    Thread* t = new (std::nothrow) Thread;
    if (!t) return nullptr;
    t->proc = proc;
    t->arg = arg;
    t->returned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!t->returned) {
        delete t;
        return nullptr;
    }
    // Started suspended so that the handle is stored before the thread can
    // let go of the object.
    t->handle = CreateThread(nullptr, 0, ThreadStart, t, CREATE_SUSPENDED, nullptr);
    if (!t->handle) {
        CloseHandle(t->returned);
        delete t;
        return nullptr;
    }
    ResumeThread(t->handle);
    return t;
}

uint32_t ThreadWait(OsHandle thread, uint32_t timeoutMs) {
    Thread* t = FromHandle(thread);
    if (!t) return kWaitFailed;
    HANDLE both[2] = {t->handle, t->returned};
    DWORD rc = WaitForMultipleObjects(2, both, FALSE, OsRealMs(timeoutMs));
    if (rc == WAIT_OBJECT_0) return kWaitObject0;
    if (rc == WAIT_OBJECT_0 + 1) {
        WaitForSingleObject(t->handle, kLeaveGraceMs);
        return kWaitObject0;
    }
    if (rc == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

bool ThreadTerminate(OsHandle thread, uint32_t exitCode) {
    Thread* t = FromHandle(thread);
    if (!t) return false;
    if (HasReturned(t)) return true;  // nothing of it left to stop
    return TerminateThread(t->handle, exitCode) != FALSE;
}

bool ThreadGetExitCode(OsHandle thread, uint32_t* exitCode) {
    Thread* t = FromHandle(thread);
    if (!t || !exitCode) return false;
    if (HasReturned(t)) {
        *exitCode = t->returnCode;
        return true;
    }
    DWORD code = 0;
    if (!GetExitCodeThread(t->handle, &code)) return false;
    *exitCode = code;
    return true;
}

void ThreadClose(OsHandle thread) {
    Thread* t = FromHandle(thread);
    if (!t) return;
    // A thread killed before its procedure returned never let go of the
    // object: the handle does it for both.
    if (WaitForSingleObject(t->handle, 0) == WAIT_OBJECT_0 && !HasReturned(t)) Release(t);
    Release(t);
}

uint32_t ThreadCurrentId() { return GetCurrentThreadId(); }

}  // namespace vos
