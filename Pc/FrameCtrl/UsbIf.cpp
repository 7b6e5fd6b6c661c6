// The USB link (see UsbIf.h).
#include "Pc/FrameCtrl/UsbIf.h"

#include <cstring>
#include <string>

#include "Lib/Omnel/Omnel.h"
#include "Pc/Log/TraceLog.h"
#include "Pc/Message/Message.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsMemory.h"
#include "Pc/Os/OsSettings.h"
#include "Pc/Os/OsThread.h"
#include "vantro/vantro_errors.h"

namespace {

const char kSource[] = "Pc/FrameCtrl/UsbIf";

// Lines of the failures, as reported.
constexpr int kLineAttachEvent = 376;
constexpr int kLineListMutex = 388;
constexpr int kLineFreeEvent = 400;
constexpr int kLineInit = 425;
constexpr int kLineAttachWait = 448;
constexpr int kLineSendThread = 465;
constexpr int kLineSendStarted = 469;
constexpr int kLineRecvThread = 479;
constexpr int kLineRecvStarted = 483;
constexpr int kLineWatchThread = 493;
constexpr int kLineWatchStarted = 497;
constexpr int kLineAcceptWait = 710;

// A failed read that returned nothing is retried after this pause (clock
// milliseconds), so that a vanished device does not spin the thread.
constexpr uint32_t kReadErrorPauseMs = 20;

const WDU_DRIVER_HANDLE kNoDriver = reinterpret_cast<WDU_DRIVER_HANDLE>(~uintptr_t(0));

// Values for "0x%08X" and "%d" in the trace lines.
unsigned U32(uint64_t v) { return static_cast<unsigned>(v); }
unsigned H(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

WDU_DEVICE_HANDLE DeviceHandle(intptr_t h) { return reinterpret_cast<WDU_DEVICE_HANDLE>(h); }

CMessage* TraceConstruction(CMessage* message) {
    TraceLog(kTraceLevel256, "CUsbIf::CUsbIf-In");
    return message;
}

uint32_t ConnectFailed(DWORD status, const char* format, int line) {
    TraceLog(kTraceLevel256, "CUsbIf::Open-Out(QXR_ERROR_PCIF_CONNECT)");
    ErrReportf(QXR_ERROR_PCIF_CONNECT, format, kSource, line, U32(status));
    return QXR_ERROR_PCIF_CONNECT;
}

}  // namespace

CUsbIf::CUsbIf(CMessage* message)
    : CCommIf(TraceConstruction(message), nullptr),
      m_hWatchThread(nullptr),
      m_hEventWatchStarted(vos::EventCreate(true, false)),
      m_hEventWatchStopped(vos::EventCreate(true, false)),
      m_hEventWatchStop(vos::EventCreate(true, false)),
      m_hDriver(kNoDriver) {
    m_nCommDevice = kCommUsb;
    std::memset(&DrvCtx, 0, sizeof DrvCtx);
    // A failed opening leaves m_hDevice at -1; Send tries again.
    Open(nullptr);
    TraceLog(kTraceLevel256, "CUsbIf::CUsbIf-Out");
}

CUsbIf::~CUsbIf() {
    Close(0);
    vos::OsHandle* events[] = {&m_hEventWatchStarted, &m_hEventWatchStopped, &m_hEventWatchStop};
    for (vos::OsHandle* event : events) {
        if (*event) vos::EventClose(*event);
        *event = nullptr;
    }
}

uint32_t CUsbIf::Open(const char* portName) {
    (void)portName;
    TraceLog(kTraceLevel256, "CUsbIf::Open(VOID)");
    if (m_hDevice != -1 || m_hDriver != kNoDriver) {
        TraceLog(kTraceLevel16, "Device Already Open Driver=0x%08X  Device=0x%08X", H(m_hDriver), U32(m_hDevice));
        m_pMessage->OnLinkClosed();
        Close(0);
    }

    const std::string settings = vos::SettingsFilePath();
    const uint32_t vendorId =
        vos::ProfileGetInt("DEVICEINFO", "VENDORID", static_cast<int32_t>(kUsbDefaultVendorId), settings.c_str());
    const uint32_t productId =
        vos::ProfileGetInt("DEVICEINFO", "PRODUCTID", static_cast<int32_t>(kUsbDefaultProductId), settings.c_str());

    DWORD status = OsEventCreate(&DrvCtx.hAttachEvent);
    if (status != WD_STATUS_SUCCESS) {
        TraceLog(kTraceLevel128, "OsEventCreate() failed on event. Event:0x%08X  ErrCode:0x%08X(%s)",
                 H(DrvCtx.hAttachEvent), U32(status), Stat2Str(status));
        FreeDeviceList();
        return ConnectFailed(status, "[PC]%s(%d): OsEventCreate() return = %X", kLineAttachEvent);
    }
    status = OsMutexCreate(&DrvCtx.hListMutex);
    if (status != WD_STATUS_SUCCESS) {
        TraceLog(kTraceLevel128, "OsMutexCreate() failed on mutex. Event:0x%08X  ErrCode:0x%08X(%s)",
                 H(DrvCtx.hListMutex), U32(status), Stat2Str(status));
        FreeDeviceList();
        return ConnectFailed(status, "[PC]%s(%d): OsMutexCreate() return = %X", kLineListMutex);
    }
    status = OsEventCreate(&DrvCtx.hDeviceFreeEvent);
    if (status != WD_STATUS_SUCCESS) {
        TraceLog(kTraceLevel128, "OsEventCreate() failed on event Second. Event:0x%08X  ErrCode:0x%08X(%s)",
                 H(DrvCtx.hDeviceFreeEvent), U32(status), Stat2Str(status));
        FreeDeviceList();
        return ConnectFailed(status, "[PC]%s(%d): OsEventCreate() return = %X", kLineFreeEvent);
    }
    OsEventSignal(DrvCtx.hDeviceFreeEvent);

    WDU_MATCH_TABLE match = {static_cast<USHORT>(vendorId & 0xFFFF), static_cast<USHORT>(productId & 0xFFFF), 0, 0,
                             0, 0, 0};
    WDU_EVENT_TABLE events = {&CUsbIf::DeviceAttach, &CUsbIf::DeviceDetach, nullptr, &DrvCtx};
    status = WDU_Init(&m_hDriver, &match, 1, &events, "", 0);
    if (status != WD_STATUS_SUCCESS) {
        m_hDriver = kNoDriver;
        TraceLog(kTraceLevel128, "failed to initialize USB driver: ErrCode:0x%08X(%s)", U32(status), Stat2Str(status));
        FreeDeviceList();
        return ConnectFailed(status, "[PC]%s(%d): WDU_Init() return = %X", kLineInit);
    }
    TraceLog(kTraceLevel16, "WDU_Init Success Handle:0x%08X", H(m_hDriver));

    status = OsEventWait(DrvCtx.hAttachEvent, kUsbAttachWaitSeconds);
    WDU_DEVICE_HANDLE first = nullptr;
    if (status == WD_STATUS_SUCCESS) {
        OsMutexLock(DrvCtx.hListMutex);
        if (DrvCtx.deviceContextList) first = DrvCtx.deviceContextList->hDevice;
        OsMutexUnlock(DrvCtx.hListMutex);
        // Attached and gone again before we looked: as if it never came.
        if (!first) status = WD_DEVICE_NOT_FOUND;
    }
    if (status != WD_STATUS_SUCCESS) {
        if (status == WD_TIME_OUT_EXPIRED) {
            TraceLog(kTraceLevel128, "Timeout expired for connection with the device.");
            TraceLog(kTraceLevel128, "Check that the device is connected and try again.");
        } else {
            TraceLog(kTraceLevel128, "main: OsEventWait() failed on event 0x%08X: error 0x%08X(%s)",
                     H(DrvCtx.hAttachEvent), U32(status), Stat2Str(status));
        }
        Close(0);
        return ConnectFailed(status, "[PC]%s(%d): OsEventWait() return = %X", kLineAttachWait);
    }
    m_hDevice = reinterpret_cast<intptr_t>(first);
    TraceLog(kTraceLevel16, "DrvCtx.deviceContextList->hDevice:0x%08X", U32(m_hDevice));

    uint32_t result = StartThread(&CCommIf::TransmitThreadStart, m_hEventSendStop, m_hEventSendStarted,
                                  &m_hSendThread, kLineSendThread, kLineSendStarted);
    if (result == 0)
        result = StartThread(&CCommIf::ReceiveThreadStart, m_hEventRecvStop, m_hEventRecvStarted, &m_hRecvThread,
                             kLineRecvThread, kLineRecvStarted);
    if (result == 0)
        result = StartThread(&CUsbIf::WatchThreadStart, m_hEventWatchStop, m_hEventWatchStarted, &m_hWatchThread,
                             kLineWatchThread, kLineWatchStarted);
    if (result != 0) return result;

    m_pMessage->OnLinkOpened();
    TraceLog(kTraceLevel256, "CUsbIf::Open-Out(QXR_ERROR_NONE)");
    return 0;
}

uint32_t CUsbIf::StartThread(vos::OsThreadProc proc, vos::OsHandle stop, vos::OsHandle started,
                             vos::OsHandle* thread, int createLine, int startLine) {
    vos::EventReset(stop);
    *thread = vos::ThreadCreate(proc, this);
    if (!*thread) {
        ErrReportf(QXR_ERROR_PCIF_CONNECT, "[PC]%s(%d):", kSource, createLine);
        return QXR_ERROR_PCIF_CONNECT;
    }
    if (vos::EventWait(started, kUsbThreadStartMs) != vos::kWaitObject0) {
        ErrReportf(QXR_ERROR_PCIF_CONNECT, "[PC]%s(%d):", kSource, startLine);
        return QXR_ERROR_PCIF_CONNECT;
    }
    return 0;
}

void CUsbIf::StopThread(vos::OsHandle* thread) {
    if (!*thread) return;
    if (vos::ThreadWait(*thread, kUsbThreadStartMs) != vos::kWaitObject0) vos::ThreadTerminate(*thread, 0);
    vos::ThreadClose(*thread);
    *thread = nullptr;
}

void CUsbIf::Close(uint32_t flags) {
    vos::EventSet(m_hEventRecvStop);
    vos::EventSet(m_hEventSendStop);
    vos::EventSet(m_hEventWatchStop);
    // A read in progress would otherwise hold the receive thread for up to
    // its whole time-out.
    if (m_hDevice != -1 && m_hRecvThread) WDU_HaltTransfer(DeviceHandle(m_hDevice), kUsbPipeIn);

    StopThread(&m_hRecvThread);
    StopThread(&m_hSendThread);
    if (!(flags & 1)) StopThread(&m_hWatchThread);

    if (m_hDriver != kNoDriver) {
        TraceLog(kTraceLevel16, "Call WDU_Uninit(0x%08X)", H(m_hDriver));
        WDU_Uninit(m_hDriver);
        // No callback runs any more: the list is ours.
        FreeDeviceList();
        m_hDriver = kNoDriver;
        m_hDevice = -1;
    }
    m_pMessage->OnLinkClosed();
}

// Frees the device records and the library objects and zeroes DrvCtx.
void CUsbIf::FreeDeviceList() {
    UsbDeviceContext* record = DrvCtx.deviceContextList;
    while (record) {
        UsbDeviceContext* next = record->next;
        vos::MemFree(record);
        record = next;
    }
    if (DrvCtx.hAttachEvent) OsEventClose(DrvCtx.hAttachEvent);
    if (DrvCtx.hListMutex) OsMutexClose(DrvCtx.hListMutex);
    if (DrvCtx.hDeviceFreeEvent) OsEventClose(DrvCtx.hDeviceFreeEvent);
    std::memset(&DrvCtx, 0, sizeof DrvCtx);
}

uint32_t CUsbIf::Send() {
    if (m_hDevice == -1) {
        TraceLog(kTraceLevel16, "CUsbIf::Send() Recovery Open");
        uint32_t result = Open(nullptr);
        if (result != 0) {
            TraceLog(kTraceLevel128, "CUsbIf::Send() Open ErrCode:0x%08X", result);
            TraceLog(kTraceLevel512, "CUsbIf::Send-Out(QXR_ERROR_PCIF_TRANSMIT)");
            return QXR_ERROR_PCIF_TRANSMIT;
        }
        TraceLog(kTraceLevel16, "CUsbIf::Send() Now Open");
    }
    vos::EventSet(m_hEventRecvEnable);
    vos::EventSet(m_hEventSendRequest);
    if (vos::EventWait(m_pMessage->GetAcceptEvent(), vos::kOsInfinite) == vos::kWaitObject0) return 0;
    ErrReportf(QXR_ERROR_PCIF_TRANSMIT, "[PC]%s(%d):", kSource, kLineAcceptWait);
    return QXR_ERROR_PCIF_TRANSMIT;
}

uint32_t CUsbIf::TransmitThread() {
    vos::EventReset(m_hEventSendStopped);
    vos::EventSet(m_hEventSendStarted);
    const vos::OsHandle waits[2] = {m_hEventSendStop, m_hEventSendRequest};
    for (;;) {
        uint32_t r = vos::EventWaitAny(waits, 2, 1000);
        if (r == vos::kWaitObject0) break;
        TxFrame* frame = nullptr;
        if (r == vos::kWaitTimeout) {
            if (m_pMessage->GetPendingFrame(&frame) == 0)
                vos::EventSet(m_hEventSendRequest);
            else
                m_pMessage->CheckTimeouts();
            continue;
        }
        if (r != vos::kWaitObject0 + 1) break;  // the wait itself failed

        vos::EventReset(m_hEventSendRequest);
        TraceLog(kTraceLevel2048, "ResetEvent(m_hEventSendRequest)");
        if (m_pMessage->GetPendingFrame(&frame) != 0) continue;
        frame->Lock.Enter();
        if (frame->Length == 0) {  // replaced by nothing since we looked
            frame->Lock.Leave();
            continue;
        }
        TraceLog(kTraceLevel16, "CUsbIf::TransmitThread(?, OUT_BULK, FALSE, 0, ?FrameData, %d, OutSize, Timeout)",
                 U32(frame->Length));
        DWORD sent = 0;
        DWORD status = WDU_TransferBulk(DeviceHandle(m_hDevice), kUsbPipeOut, FALSE, 0, frame->Frame, frame->Length,
                                        &sent, kUsbTransferTimeoutMs);
        if (status != WD_STATUS_SUCCESS || sent == 0) {
            TraceLog(kTraceLevel128, "TransmitThread WDU_TransferBulk(0x%08X) SIZE=%d", U32(status), U32(sent));
            WDU_HaltTransfer(DeviceHandle(m_hDevice), kUsbPipeOut);
        }
        TraceLog(kTraceLevel16, "CUsbIf::TransmitThread [%d] %02X %02X %02X %02X %02X", U32(sent), frame->Frame[0],
                 frame->Frame[1], frame->Frame[2], frame->Frame[3], frame->Frame[4]);
        // A frame whose transfer failed is not written again: the message
        // layer's time-outs take over.
        const bool endsExchange = frame->EndsExchange != 0;
        frame->Length = 0;
        frame->Lock.Leave();
        if (endsExchange) m_pMessage->OnFrameSent();
    }
    vos::EventReset(m_hEventSendStop);
    vos::EventReset(m_hEventSendStarted);
    vos::EventSet(m_hEventSendStopped);
    return 0;
}

uint32_t CUsbIf::ReceiveThread() {
    uint8_t buffer[kMaxFrame];
    uint32_t received = 0;
    uint32_t wanted = kMaxFrame;
    vos::EventReset(m_hEventRecvStopped);
    vos::EventSet(m_hEventRecvStarted);
    const vos::OsHandle waits[2] = {m_hEventRecvStop, m_hEventRecvEnable};
    for (;;) {
        if (vos::EventWaitAny(waits, 2, vos::kOsInfinite) != vos::kWaitObject0 + 1) break;
        DWORD count = 0;
        DWORD status = WDU_TransferBulk(DeviceHandle(m_hDevice), kUsbPipeIn, TRUE, 0, buffer + received, wanted,
                                        &count, kUsbTransferTimeoutMs);
        if (status == WD_STATUS_SUCCESS && count == 0) {
            TraceLog(kTraceLevel64, "Rcv WDU_TransferBulk(WD_STATUS_SUCCESS) But Size=0");
            continue;
        }
        if (status != WD_STATUS_SUCCESS && status != WD_TIME_OUT_EXPIRED) {
            TraceLog(kTraceLevel128, "Rcv WDU_TransferBulk Error:0x%08X  Size:%d  ErrMsg:%s", U32(status), U32(count),
                     Stat2Str(status));
            if (count == 0) vos::EventWait(m_hEventRecvStop, kReadErrorPauseMs);
        }
        // A time-out keeps what has arrived of the frame so far.
        if (count > wanted) count = wanted;
        received += count;

        for (;;) {
            if (received < 4) {  // the header is not complete yet
                wanted = kMaxFrame - received;
                break;
            }
            const uint32_t total = buffer[2] + 256u * buffer[3] + 6;
            if (total > kMaxFrame) {
                // Not the start of a frame: drop the bytes up to the next 0x02.
                uint32_t next = 1;
                while (next < received && buffer[next] != kFrameStart) ++next;
                std::memmove(buffer, buffer + next, received - next);
                received -= next;
                continue;
            }
            if (total > received) {
                wanted = total - received;
                break;
            }
            // Bytes beyond the frame are dropped.
            m_pMessage->OnFrameReceived(buffer, total);
            received = 0;
            wanted = kMaxFrame;
            break;
        }
    }
    vos::EventReset(m_hEventRecvStarted);
    vos::EventSet(m_hEventRecvStopped);
    return 0;
}

uint32_t CUsbIf::WaitWatchStop() { return vos::EventWait(m_hEventWatchStop, vos::kOsInfinite); }

uint32_t CUsbIf::WatchThread() {
    vos::EventReset(m_hEventWatchStopped);
    vos::EventSet(m_hEventWatchStarted);
    if (WaitWatchStop() != vos::kWaitObject0) {
        Close(1);
        vos::ThreadClose(m_hWatchThread);
        m_hWatchThread = nullptr;
    }
    vos::EventReset(m_hEventWatchStarted);
    vos::EventSet(m_hEventWatchStopped);
    return 0;
}

uint32_t CUsbIf::WatchThreadStart(void* link) { return static_cast<CUsbIf*>(link)->WatchThread(); }

BOOL WDU_CALLCONV CUsbIf::DeviceAttach(WDU_DEVICE_HANDLE hDevice, WDU_DEVICE* pDeviceInfo, PVOID pUserData) {
    TraceLog(kTraceLevel256, "DeviceAttach-In( 0x%08X, 0x%08X, 0x%08X )", H(hDevice), H(pDeviceInfo), H(pUserData));
    UsbDriverContext* ctx = static_cast<UsbDriverContext*>(pUserData);
    UsbDeviceContext* record = static_cast<UsbDeviceContext*>(vos::MemAlloc(sizeof(UsbDeviceContext)));
    if (!record) {
        TraceLog(kTraceLevel128, "DeviceAttach: failed allocating memory");
        TraceLog(kTraceLevel256, "DeviceAttach-Out( FALSE )");
        return FALSE;
    }
    std::memset(record, 0, sizeof *record);
    record->hDevice = hDevice;
    if (pDeviceInfo) {
        record->vendorId = pDeviceInfo->Descriptor.idVendor;
        record->productId = pDeviceInfo->Descriptor.idProduct;
        const WDU_INTERFACE* iface = pDeviceInfo->pActiveInterface[0];
        if (iface && iface->pActiveAltSetting) {
            record->interfaceNumber = iface->pActiveAltSetting->Descriptor.bInterfaceNumber;
            record->alternateSetting = iface->pActiveAltSetting->Descriptor.bAlternateSetting;
        }
    }
    OsMutexLock(ctx->hListMutex);
    UsbDeviceContext** tail = &ctx->deviceContextList;
    while (*tail) tail = &(*tail)->next;
    *tail = record;
    ctx->deviceCount++;
    OsMutexUnlock(ctx->hListMutex);
    OsEventSignal(ctx->hAttachEvent);
    TraceLog(kTraceLevel256, "DeviceAttach-Out( TRUE )");
    return TRUE;
}

void WDU_CALLCONV CUsbIf::DeviceDetach(WDU_DEVICE_HANDLE hDevice, PVOID pUserData) {
    TraceLog(kTraceLevel256, "DeviceDetach-In( 0x%08X, 0x%08X )", H(hDevice), H(pUserData));
    UsbDriverContext* ctx = static_cast<UsbDriverContext*>(pUserData);
    bool waitFree = false;
    OsMutexLock(ctx->hListMutex);
    // A handle that is not in the list (never recorded) changes nothing.
    for (UsbDeviceContext** link = &ctx->deviceContextList; *link; link = &(*link)->next) {
        UsbDeviceContext* record = *link;
        if (record->hDevice != hDevice) continue;
        if (record == ctx->activeDevice) {
            ctx->activeDevice = nullptr;
            waitFree = true;
        }
        *link = record->next;
        vos::MemFree(record);
        ctx->deviceCount--;
        break;
    }
    OsMutexUnlock(ctx->hListMutex);
    if (waitFree) OsEventWait(ctx->hDeviceFreeEvent, INFINITE);
    TraceLog(kTraceLevel256, "DeviceDetach-Out( VOID )");
}
