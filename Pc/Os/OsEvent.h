// Events with Win32 semantics: manual- or auto-reset, waits on one or several
// events with a time-out measured on the library clock (OsClock.h).
#pragma once

#include "Pc/Os/OsTypes.h"

namespace vos {

// Returns null on failure.
OsHandle EventCreate(bool manualReset, bool initiallySignalled);
bool EventSet(OsHandle event);
bool EventReset(OsHandle event);
void EventClose(OsHandle event);

// kWaitObject0 when signalled (an auto-reset event is then reset),
// kWaitTimeout, or kWaitFailed for a bad handle.
uint32_t EventWait(OsHandle event, uint32_t timeoutMs);

// Waits until any of the events is signalled: kWaitObject0 + the lowest index
// of a signalled event, kWaitTimeout or kWaitFailed. count is 1 to 64.
uint32_t EventWaitAny(const OsHandle* events, uint32_t count, uint32_t timeoutMs);

}  // namespace vos
