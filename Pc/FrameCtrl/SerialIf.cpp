// The serial link. Reads and writes on the synchronous port always hold
// m_csPort, so they never overlap; the transmit thread takes the message
// layer's transmit-slot lock before m_csPort, the receive thread takes only
// m_csPort and releases it before calling the message layer.
#include "Pc/FrameCtrl/SerialIf.h"

#include "Lib/Omnel/Omnel.h"
#include "Pc/Message/Message.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsSerial.h"
#include "Pc/Os/OsThread.h"
#include "vantro/vantro_errors.h"

namespace {

const char kSource[] = "Pc/FrameCtrl/SerialIf";

// Where each failure is reported.
constexpr int kLineNullName = 127;
constexpr int kLineOpenPort = 133;
constexpr int kLineGetState = 142;
constexpr int kLineSetState = 156;
constexpr int kLineSetTimeouts = 171;
constexpr int kLinePurge = 181;
constexpr int kLineSendThread = 194;
constexpr int kLineSendStarted = 198;
constexpr int kLineRecvThread = 208;
constexpr int kLineRecvStarted = 212;
constexpr int kLineSendWait = 315;

constexpr uint32_t kBaudRate = 38400;
constexpr uint8_t kDtrControlEnable = 1;
constexpr uint8_t kRtsControlHandshake = 2;
constexpr uint32_t kThreadStartMs = 5000;
constexpr uint32_t kThreadStopMs = 5000;
constexpr uint32_t kIdleCheckMs = 1000;
// With no byte queued the receive thread waits for one, or for the stop
// event, at most this long before it looks again.
constexpr uint32_t kInputWaitMs = 1000;
constexpr uint32_t kBrokenPortPauseMs = 100;
constexpr uint32_t kHeaderSize = 4;

uint32_t OpenFailed(int line) {
    ErrReportf(QXR_ERROR_PCIF_CONNECT, "[PC]%s(%d):", kSource, line);
    return QXR_ERROR_PCIF_CONNECT;
}

}  // namespace

CSerialIf::CSerialIf(CMessage* message, const char* portName) : CCommIf(message, portName) {
    m_nCommDevice = kCommSerial;
    Open(portName);
}

CSerialIf::~CSerialIf() { Close(0); }

uint32_t CSerialIf::Open(const char* portName) {
    if (!portName) return OpenFailed(kLineNullName);

    vos::OsHandle port = vos::SerialOpen(portName);
    if (!vos::IsValidHandle(port)) return OpenFailed(kLineOpenPort);

    vos::OsDcb dcb;
    if (!vos::SerialGetState(port, &dcb)) {
        vos::SerialClose(port);
        return OpenFailed(kLineGetState);
    }
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = 0;    // NOPARITY
    dcb.StopBits = 0;  // ONESTOPBIT
    dcb.fOutxCtsFlow = false;
    dcb.fOutxDsrFlow = false;
    dcb.fDtrControl = kDtrControlEnable;
    dcb.fRtsControl = kRtsControlHandshake;
    if (!vos::SerialSetState(port, &dcb)) {
        vos::SerialClose(port);
        return OpenFailed(kLineSetState);
    }

    vos::OsCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (!vos::SerialSetTimeouts(port, &timeouts)) {
        vos::SerialClose(port);
        return OpenFailed(kLineSetTimeouts);
    }

    if (!vos::SerialPurge(port, vos::kPurgeTxAbort | vos::kPurgeRxAbort | vos::kPurgeTxClear |
                                    vos::kPurgeRxClear)) {
        vos::SerialClose(port);
        return OpenFailed(kLinePurge);
    }

    // From here on a failure leaves the port and any thread started as they
    // are; Close releases them.
    m_hPort = port;

    vos::EventReset(m_hEventSendStop);
    m_hSendThread = vos::ThreadCreate(&CCommIf::TransmitThreadStart, this);
    if (!m_hSendThread) return OpenFailed(kLineSendThread);
    if (vos::EventWait(m_hEventSendStarted, kThreadStartMs) != vos::kWaitObject0)
        return OpenFailed(kLineSendStarted);

    vos::EventReset(m_hEventRecvStop);
    m_hRecvThread = vos::ThreadCreate(&CCommIf::ReceiveThreadStart, this);
    if (!m_hRecvThread) return OpenFailed(kLineRecvThread);
    if (vos::EventWait(m_hEventRecvStarted, kThreadStartMs) != vos::kWaitObject0)
        return OpenFailed(kLineRecvStarted);

    m_pMessage->OnLinkOpened();
    return 0;
}

void CSerialIf::Close(uint32_t flags) {
    (void)flags;
    vos::EventSet(m_hEventRecvStop);
    vos::EventSet(m_hEventSendStop);
    vos::OsHandle* threads[] = {&m_hRecvThread, &m_hSendThread};
    for (vos::OsHandle* thread : threads) {
        if (!*thread) continue;
        if (vos::ThreadWait(*thread, kThreadStopMs) != vos::kWaitObject0)
            vos::ThreadTerminate(*thread, 0xFFFFFFFFu);
        vos::ThreadClose(*thread);
        *thread = nullptr;
    }
    if (vos::IsValidHandle(m_hPort)) vos::SerialClose(m_hPort);
    m_hPort = vos::InvalidHandle();
}

uint32_t CSerialIf::Send() {
    vos::EventSet(m_hEventSendRequest);
    if (vos::EventWait(m_pMessage->GetAcceptEvent(), vos::kOsInfinite) != vos::kWaitObject0) {
        ErrReportf(QXR_ERROR_PCIF_TRANSMIT, "[PC]%s(%d):", kSource, kLineSendWait);
        return QXR_ERROR_PCIF_TRANSMIT;
    }
    return 0;
}

uint32_t CSerialIf::ReceiveThread() {
    uint8_t buffer[kMaxFrame];
    vos::EventReset(m_hEventRecvStopped);
    vos::EventSet(m_hEventRecvStarted);

    while (vos::EventWait(m_hEventRecvStop, 0) == vos::kWaitTimeout) {
        uint32_t errors = 0;
        uint32_t queued = 0;
        if (!vos::SerialClearError(m_hPort, &errors, &queued)) {
            // The port is gone (unplugged, closed): look again later.
            vos::EventWait(m_hEventRecvStop, kBrokenPortPauseMs);
            continue;
        }
        if (queued == 0) {
            // Sleep until a byte arrives or the thread is told to end.
            vos::SerialWaitInput(m_hPort, m_hEventRecvStop, kInputWaitMs);
            continue;
        }

        uint32_t got = 0;
        bool ok;
        m_csPort.Enter();
        ok = vos::SerialRead(m_hPort, buffer, kHeaderSize, &got);
        m_csPort.Leave();
        if (!ok || got < kHeaderSize || buffer[0] != kFrameStart) continue;  // dropped

        const uint32_t total = buffer[2] + 256u * buffer[3] + 6;
        if (total > kMaxFrame) continue;  // the next bytes are read as the next header

        m_csPort.Enter();
        ok = vos::SerialRead(m_hPort, buffer + kHeaderSize, total - kHeaderSize, &got);
        m_csPort.Leave();
        if (!ok || got + kHeaderSize != total) continue;  // the rest did not come in time

        m_pMessage->OnFrameReceived(buffer, total);
    }

    vos::EventReset(m_hEventRecvStarted);
    vos::EventSet(m_hEventRecvStopped);
    return 0;
}

uint32_t CSerialIf::TransmitThread() {
    vos::EventReset(m_hEventSendStopped);
    vos::EventSet(m_hEventSendStarted);

    const vos::OsHandle events[2] = {m_hEventSendStop, m_hEventSendRequest};
    for (;;) {
        const uint32_t r = vos::EventWaitAny(events, 2, kIdleCheckMs);
        if (r == vos::kWaitObject0) break;
        TxFrame* frame = nullptr;
        if (r == vos::kWaitObject0 + 1) {
            vos::EventReset(m_hEventSendRequest);
            if (m_pMessage->GetPendingFrame(&frame) != 0 || !frame) continue;
            frame->Lock.Enter();
            m_csPort.Enter();
            uint32_t written = 0;
            vos::SerialWrite(m_hPort, frame->Frame, frame->Length, &written);
            m_csPort.Leave();
            const uint32_t endsExchange = frame->EndsExchange;
            frame->Length = 0;
            frame->Lock.Leave();
            if (endsExchange) m_pMessage->OnFrameSent();
        } else if (r == vos::kWaitTimeout) {
            if (m_pMessage->GetPendingFrame(&frame) == 0 && frame) vos::EventSet(m_hEventSendRequest);
            else m_pMessage->CheckTimeouts();
        } else {
            // The wait itself failed: pace the loop instead of spinning.
            vos::OsSleep(kIdleCheckMs);
        }
    }

    vos::EventReset(m_hEventSendStop);
    vos::EventReset(m_hEventSendStarted);
    vos::EventSet(m_hEventSendStopped);
    return 0;
}
