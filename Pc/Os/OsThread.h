// Threads: start, wait for the end with a time-out, terminate, thread ids.
//
// A thread that does not end within the caller's wait may be terminated.
// On Windows that is TerminateThread. On POSIX the thread is cancelled: it
// stops at its next wait, sleep or read (every wait of the platform layer is
// a cancellation point) and unwinds its stack; if it still has not ended one
// second later it is detached and left to finish on its own.
#pragma once

#include <cstdint>

#include "Pc/Os/OsTypes.h"

namespace vos {

using OsThreadProc = uint32_t (*)(void* arg);

// Starts the thread at once; returns null on failure.
OsHandle ThreadCreate(OsThreadProc proc, void* arg);
// kWaitObject0 when the thread has ended, kWaitTimeout or kWaitFailed.
uint32_t ThreadWait(OsHandle thread, uint32_t timeoutMs);
bool ThreadTerminate(OsHandle thread, uint32_t exitCode);
// Exit code of an ended thread.
bool ThreadGetExitCode(OsHandle thread, uint32_t* exitCode);
// Releases the handle; a thread still running goes on.
void ThreadClose(OsHandle thread);

// Id of the calling thread (GetCurrentThreadId on Windows, the kernel's
// thread id on Linux).
uint32_t ThreadCurrentId();

}  // namespace vos
