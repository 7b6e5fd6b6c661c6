#include <windows.h>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"

namespace vos {

OsHandle EventCreate(bool manualReset, bool initiallySignalled) {
    return CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE,
                        nullptr);
}

bool EventSet(OsHandle event) { return event && SetEvent(event) != FALSE; }

bool EventReset(OsHandle event) { return event && ResetEvent(event) != FALSE; }

void EventClose(OsHandle event) {
    if (event) CloseHandle(event);
}

uint32_t EventWait(OsHandle event, uint32_t timeoutMs) {
    if (!event) return kWaitFailed;
    DWORD rc = WaitForSingleObject(event, OsRealMs(timeoutMs));
    if (rc == WAIT_OBJECT_0) return kWaitObject0;
    if (rc == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

uint32_t EventWaitAny(const OsHandle* events, uint32_t count, uint32_t timeoutMs) {
    if (!events || count == 0 || count > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
    for (uint32_t i = 0; i < count; ++i)
        if (!events[i]) return kWaitFailed;
    DWORD rc = WaitForMultipleObjects(count, events, FALSE, OsRealMs(timeoutMs));
    if (rc < WAIT_OBJECT_0 + count) return kWaitObject0 + (rc - WAIT_OBJECT_0);
    if (rc == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

}  // namespace vos
