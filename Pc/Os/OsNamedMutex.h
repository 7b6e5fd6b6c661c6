// A mutex shared by all processes of the machine under one name, with Win32
// semantics: recursive ownership by a thread, and abandonment. When the
// owning thread or process dies, the next wait returns kWaitAbandoned once and
// the waiter owns the mutex.
//
// On POSIX the mutex is a robust, process-shared, recursive pthread mutex in a
// shared-memory object named after the mutex.
#pragma once

#include "Pc/Os/OsTypes.h"

namespace vos {

// Opens the mutex, creating it when no process has it yet; null on failure.
OsHandle NamedMutexCreate(const char* name);
// kWaitObject0, kWaitAbandoned, kWaitTimeout or kWaitFailed.
uint32_t NamedMutexWait(OsHandle mutex, uint32_t timeoutMs);
// False when the calling thread does not own the mutex.
bool NamedMutexRelease(OsHandle mutex);
void NamedMutexClose(OsHandle mutex);

}  // namespace vos
