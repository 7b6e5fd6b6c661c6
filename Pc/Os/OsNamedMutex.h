// A mutex shared by all processes of the machine under one name, with Win32
// semantics: recursive ownership by a thread, and abandonment. When the
// owning thread or process dies, the next wait returns kWaitAbandoned once and
// the waiter owns the mutex.
//
// On POSIX the mutex is a robust, process-shared, recursive pthread mutex in a
// shared-memory object named after the mutex ("/vantro-mutex." and the name,
// with '%' and '/' written as "%25" and "%2F"). The object outlives the
// processes, as a mutex in a file would: removing it while processes use it
// would split them between two mutexes.
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

// Test hook: removes the shared-memory object behind the name (POSIX; nothing
// on Windows, where the mutex ends with its last handle). Processes that have
// it open keep their mutex.
void NamedMutexRemove(const char* name);

}  // namespace vos
