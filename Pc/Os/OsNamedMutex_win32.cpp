#include <windows.h>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsNamedMutex.h"

namespace vos {

OsHandle NamedMutexCreate(const char* name) {
    if (!name || !*name) return nullptr;
    return CreateMutexA(nullptr, FALSE, name);
}

uint32_t NamedMutexWait(OsHandle mutex, uint32_t timeoutMs) {
    if (!mutex) return kWaitFailed;
    DWORD rc = WaitForSingleObject(mutex, OsRealMs(timeoutMs));
    if (rc == WAIT_OBJECT_0) return kWaitObject0;
    if (rc == WAIT_ABANDONED) return kWaitAbandoned;
    if (rc == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

bool NamedMutexRelease(OsHandle mutex) { return mutex && ReleaseMutex(mutex) != FALSE; }

void NamedMutexClose(OsHandle mutex) {
    if (mutex) CloseHandle(mutex);
}

void NamedMutexRemove(const char*) {}

}  // namespace vos
