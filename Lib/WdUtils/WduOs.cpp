// The USB library's small OS helpers (auto-reset events counted in seconds,
// recursive mutexes) on the platform layer, and the status texts.
#include <mutex>
#include <new>

#include "Lib/WdUtils/WdUtils.h"
#include "Lib/WdUtils/WduBackend.h"
#include "Pc/Os/OsCritSec.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsTypes.h"

namespace {

std::mutex g_hookLock;
wdu::OsCreateFailure g_createFailure;

DWORD InjectedFailure(const char* function) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    return g_createFailure ? g_createFailure(function) : WD_STATUS_SUCCESS;
}

}  // namespace

void wdu::SetOsCreateFailureForTests(OsCreateFailure hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_createFailure = std::move(hook);
}

DWORD WDU_CALLCONV OsEventCreate(HANDLE* phOsEvent) {
    if (!phOsEvent) return WD_INVALID_PARAMETER;
    if (DWORD failure = InjectedFailure("OsEventCreate")) {
        *phOsEvent = nullptr;
        return failure;
    }
    *phOsEvent = vos::EventCreate(false, false);
    return *phOsEvent ? WD_STATUS_SUCCESS : WD_INSUFFICIENT_RESOURCES;
}

DWORD WDU_CALLCONV OsEventWait(HANDLE hOsEvent, DWORD dwSecTimeout) {
    if (!hOsEvent) return WD_INVALID_HANDLE;
    uint32_t ms = vos::kOsInfinite;
    if (dwSecTimeout != INFINITE) {
        uint64_t wanted = static_cast<uint64_t>(dwSecTimeout) * 1000u;
        ms = wanted >= vos::kOsInfinite ? vos::kOsInfinite - 1 : static_cast<uint32_t>(wanted);
    }
    uint32_t r = vos::EventWait(hOsEvent, ms);
    if (r == vos::kWaitObject0) return WD_STATUS_SUCCESS;
    if (r == vos::kWaitTimeout) return WD_TIME_OUT_EXPIRED;
    return WD_SYSTEM_INTERNAL_ERROR;
}

DWORD WDU_CALLCONV OsEventSignal(HANDLE hOsEvent) {
    if (!hOsEvent) return WD_INVALID_HANDLE;
    return vos::EventSet(hOsEvent) ? WD_STATUS_SUCCESS : WD_SYSTEM_INTERNAL_ERROR;
}

DWORD WDU_CALLCONV OsEventReset(HANDLE hOsEvent) {
    if (!hOsEvent) return WD_INVALID_HANDLE;
    return vos::EventReset(hOsEvent) ? WD_STATUS_SUCCESS : WD_SYSTEM_INTERNAL_ERROR;
}

void WDU_CALLCONV OsEventClose(HANDLE hOsEvent) {
    if (hOsEvent) vos::EventClose(hOsEvent);
}

DWORD WDU_CALLCONV OsMutexCreate(HANDLE* phOsMutex) {
    if (!phOsMutex) return WD_INVALID_PARAMETER;
    if (DWORD failure = InjectedFailure("OsMutexCreate")) {
        *phOsMutex = nullptr;
        return failure;
    }
    *phOsMutex = new (std::nothrow) vos::OsCriticalSection();
    return *phOsMutex ? WD_STATUS_SUCCESS : WD_INSUFFICIENT_RESOURCES;
}

DWORD WDU_CALLCONV OsMutexLock(HANDLE hOsMutex) {
    if (!hOsMutex) return WD_INVALID_HANDLE;
    static_cast<vos::OsCriticalSection*>(hOsMutex)->Enter();
    return WD_STATUS_SUCCESS;
}

DWORD WDU_CALLCONV OsMutexUnlock(HANDLE hOsMutex) {
    if (!hOsMutex) return WD_INVALID_HANDLE;
    static_cast<vos::OsCriticalSection*>(hOsMutex)->Leave();
    return WD_STATUS_SUCCESS;
}

void WDU_CALLCONV OsMutexClose(HANDLE hOsMutex) { delete static_cast<vos::OsCriticalSection*>(hOsMutex); }

const char* WDU_CALLCONV Stat2Str(DWORD dwStatus) {
    switch (dwStatus) {
        case WD_STATUS_SUCCESS: return "Success";
        case WD_INVALID_HANDLE: return "Invalid handle";
        case WD_INVALID_PIPE_NUMBER: return "Invalid pipe number";
        case WD_READ_WRITE_CONFLICT: return "Another transfer is in progress on the pipe";
        case WD_INSUFFICIENT_RESOURCES: return "Insufficient resources";
        case WD_SYSTEM_INTERNAL_ERROR: return "Internal system error";
        case WD_DEVICE_NOT_FOUND: return "Device not found";
        case WD_TIME_OUT_EXPIRED: return "Time-out expired";
        case WD_IRP_CANCELED: return "Transfer canceled";
        case WD_INVALID_PARAMETER: return "Invalid parameter";
        case WD_TRY_AGAIN: return "Try again";
        case WD_OPERATION_FAILED: return "Operation failed";
        case WD_USBD_STATUS_STALL_PID: return "Endpoint stalled";
        case WD_USBD_STATUS_CANCELED: return "USB transfer canceled";
        default: return "Unrecognized error code";
    }
}
