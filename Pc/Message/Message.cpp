// The message layer (see Message.h).
//
// Every operation runs under the state lock; building a frame also takes the
// transmit slot's lock, always after the state lock. Each failure is reported
// once, here, with this file's source path and a fixed line, before any event
// or frame tells another thread about it.
//
// Two rules of this implementation that the frame format alone does not fix:
//
//  * A response that lost a fragment is never handed out. When the response
//    buffer cannot grow, AppendResponse reports 0xa00d0024 and marks the
//    response incomplete; the frame is still acknowledged and the fragment
//    still counts (so the device's Middle numbering stays in step and the
//    exchange runs to its end). When the ACK of the last frame has been
//    written, OnFrameSent makes 0xa00d0024 the exchange error before it sets
//    the response event, so WaitResponse fails the attempt; GetResponse also
//    refuses an incomplete response with 0xa00d0024 (without a second
//    report) in case a later frame cleared the exchange error in between.
//
//  * The stored request belongs to the caller of one exchange and is only
//    valid while that exchange runs. GetResponse and EndExchange forget it,
//    so that a link opened later (a USB device plugged in again between two
//    commands) never rebuilds a frame from bytes that are gone. A link that
//    opens while an exchange runs rebuilds the request's first frame, whether
//    the layer was Closed (the previous link closed, as the USB link does) or
//    not, so that a fail-over link starts the request from its first frame.
#include "Pc/Message/Message.h"

#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsMemory.h"

namespace {

const char kSource[] = "Pc/Message/Message";

// Report sites of this file.
constexpr int kLineSendRequestState = 112;
constexpr int kLineGetResponseState = 151;
constexpr int kLineFrameNoType = 178;
constexpr int kLineUnexpectedIdle = 196;
constexpr int kLineUnexpectedSending = 214;
constexpr int kLineNakWithoutCode = 226;
constexpr int kLineUnexpectedWaiting = 271;
constexpr int kLineUnexpectedReceiving = 284;
constexpr int kLineMiddleSequence = 318;
constexpr int kLineClosed = 337;
constexpr int kLineAppendArgument = 398;
constexpr int kLineAppendFirstAlloc = 407;
constexpr int kLineAppendNextAlloc = 424;
constexpr int kLineCheckArgument = 447;
constexpr int kLineCheckLength = 452;
constexpr int kLineCheckChecksum = 460;
constexpr int kLineCheckDelimiters = 465;
constexpr int kLineCheckReplyForm = 478;
constexpr int kLineFrameSentState = 497;
constexpr int kLineSendTimeout = 519;
constexpr int kLineRecvTimeoutReceiving = 528;
constexpr int kLineRecvTimeoutWaiting = 541;
constexpr int kLinePendingNullOut = 556;

const uint8_t kAck = 0x06;
const uint8_t kNak = 0x15;

uint32_t Report(uint32_t code, int line) {
    ErrReportf(code, "[PC]%s(%d):", kSource, line);
    return code;
}

// The exchange error is read without the state lock (GetExchangeError), so
// every store is atomic.
void StoreError(volatile uint32_t& error, uint32_t value) { __atomic_store_n(&error, value, __ATOMIC_RELEASE); }

bool IsDataType(uint8_t type) {
    return type == kFrameSingle || type == kFrameFirst || type == kFrameLast || type >= kFrameMiddleBase;
}

}  // namespace

CMessage::CMessage()
    : m_state(kStateClosed),
      m_dwLastActivity(0),
      m_dwExchangeError(QXR_ERROR_NOT_CONNECTED),
      m_pRequest(nullptr),
      m_dwRequestLength(0),
      m_dwNextFragment(0),
      m_pResponse(nullptr),
      m_dwResponseLength(0),
      m_dwFragments(0),
      m_bResponseIncomplete(false),
      m_bResponseComplete(false),
      m_nDeferLinkSignal(0),
      m_hLinkSignal(nullptr),
      m_hResponseEvent(vos::EventCreate(true, true)),
      m_hAcceptEvent(vos::EventCreate(true, true)),
      m_pLink(nullptr) {
    std::memset(m_tx.Frame, 0, sizeof m_tx.Frame);
    m_tx.Length = 0;
    m_tx.EndsExchange = 0;
}

CMessage::~CMessage() {
    vos::OsLock state(m_csState);
    vos::MemFree(m_pResponse);
    m_pResponse = nullptr;
    m_dwResponseLength = 0;
    {
        vos::OsLock slot(m_tx.Lock);
        m_tx.Length = 0;
        m_tx.EndsExchange = 0;
    }
    if (m_hResponseEvent) vos::EventClose(m_hResponseEvent);
    if (m_hAcceptEvent) vos::EventClose(m_hAcceptEvent);
    m_hResponseEvent = nullptr;
    m_hAcceptEvent = nullptr;
}

// ---- ExecuteCommand's side ---------------------------------------------------

uint32_t CMessage::SendRequest(const uint8_t* bytes, uint32_t length, const uint8_t** previous) {
    vos::OsLock state(m_csState);
    if (m_state != kStateClosed && m_state != kStateIdle) return Report(QXR_ERROR_STATE, kLineSendRequestState);
    if (previous) *previous = m_pRequest;
    m_pRequest = bytes;
    m_dwRequestLength = length;
    m_dwNextFragment = 0;
    if (bytes) BuildNextFrame();
    if (m_state == kStateIdle) {
        m_state = kStateSending;
        vos::EventReset(m_hAcceptEvent);
    }
    return 0;
}

uint32_t CMessage::GetResponse(const uint8_t** bytes, uint32_t* length) {
    vos::OsLock state(m_csState);
    if (m_state != kStateReceived) return Report(QXR_ERROR_STATE, kLineGetResponseState);
    bool incomplete = m_bResponseIncomplete;
    if (!incomplete) {
        if (bytes) *bytes = m_pResponse;
        if (length) *length = m_dwResponseLength;
    }
    vos::EventReset(m_hResponseEvent);
    m_state = kStateIdle;
    m_dwFragments = 0;
    m_bResponseIncomplete = false;
    m_pRequest = nullptr;
    m_dwRequestLength = 0;
    m_dwNextFragment = 0;
    // Reported by AppendResponse when the fragment was lost.
    return incomplete ? QXR_ERROR_OUT_OF_MEMORY : 0;
}

// ---- the frame controller's side -----------------------------------------------

uint32_t CMessage::GetExchangeError() const { return __atomic_load_n(&m_dwExchangeError, __ATOMIC_ACQUIRE); }

uint32_t CMessage::EndExchange() {
    vos::OsLock state(m_csState);
    if (m_state != kStateClosed) {
        StoreError(m_dwExchangeError, 0);
        vos::EventReset(m_hResponseEvent);
        m_state = kStateIdle;
    }
    m_pRequest = nullptr;
    m_dwRequestLength = 0;
    m_dwNextFragment = 0;
    return 0;
}

// ---- the links' side -------------------------------------------------------------

uint32_t CMessage::OnFrameReceived(const uint8_t* frame, uint32_t size) {
    uint32_t result;
    vos::OsHandle signal;
    {
        vos::OsLock state(m_csState);
        ++m_nDeferLinkSignal;
        result = FrameReceivedLocked(frame, size);
        --m_nDeferLinkSignal;
        signal = TakeLinkSignal();
    }
    if (signal) vos::EventSet(signal);
    return result;
}

uint32_t CMessage::FrameReceivedLocked(const uint8_t* frame, uint32_t size) {
    // A frame too short to carry its type cannot be sorted by state; links
    // never deliver one.
    if (!frame || size < 2) return Report(QXR_ERROR_STATE, kLineFrameNoType);

    StoreError(m_dwExchangeError, 0);
    const uint8_t type = frame[1];
    const uint8_t* payload = frame + 4;
    const uint32_t payloadSize = size >= 6 ? size - 6 : 0;

    switch (m_state) {
        case kStateIdle:
        case kStateReceived: {
            if (type != kFramePoll) return Report(QXR_ERROR_NOT_CONNECTED, kLineUnexpectedIdle);
            uint32_t error = CheckFrame(frame, size);
            if (error != 0) return error;
            if (payloadSize >= 1 && payload[0] == kAck) m_dwLastActivity = vos::OsGetTickCount();
            return 0;
        }

        case kStateSending: {
            if (type != kFrameReply) {
                StoreError(m_dwExchangeError, QXR_ERROR_NOT_CONNECTED);
                return Report(QXR_ERROR_NOT_CONNECTED, kLineUnexpectedSending);
            }
            uint32_t error = CheckFrame(frame, size);
            if (error != 0) {
                StoreError(m_dwExchangeError, error);
                return error;
            }
            m_dwLastActivity = vos::OsGetTickCount();
            if (payload[0] == kNak) {
                const uint32_t code = static_cast<uint32_t>(payload[1]) | static_cast<uint32_t>(payload[2]) << 8 |
                                      static_cast<uint32_t>(payload[3]) << 16 |
                                      static_cast<uint32_t>(payload[4]) << 24;
                if (code == 0) {
                    // A refusal that names no error would let the request
                    // count as accepted with no response to come: take it as
                    // a Reply of the wrong form.
                    StoreError(m_dwExchangeError, QXR_ERROR_FRAME_FORMAT);
                    Report(QXR_ERROR_FRAME_FORMAT, kLineNakWithoutCode);
                    vos::EventSet(m_hAcceptEvent);
                    return QXR_ERROR_FRAME_FORMAT;
                }
                StoreError(m_dwExchangeError, code);
                vos::EventSet(m_hAcceptEvent);
                return 0;
            }
            // ACK: the next fragment, or the request is complete.
            if (BuildNextFrame() == QXR_ERROR_NO_DATA) {
                m_state = kStateWaiting;
                vos::EventSet(m_hAcceptEvent);
            }
            return 0;
        }

        case kStateWaiting: {
            if (type == kFramePoll) {
                uint32_t error = CheckFrame(frame, size);
                if (error != 0) return error;
                if (payloadSize >= 2 && payload[0] == kAck) {
                    // A device that reports itself closed or idle has no
                    // response coming: the next check ends the wait.
                    m_dwLastActivity = payload[1] >= 2 ? vos::OsGetTickCount() : 0;
                }
                return 0;
            }
            if (type != kFrameSingle && type != kFrameFirst)
                return Report(QXR_ERROR_NOT_CONNECTED, kLineUnexpectedWaiting);
            m_dwLastActivity = vos::OsGetTickCount();
            uint32_t error = CheckFrame(frame, size);
            if (error != 0) {
                StoreError(m_dwExchangeError, error);
                SendReply(type);
                return error;
            }
            // A new response: nothing of the previous one is handed out, not
            // even when this frame brings no bytes.
            m_dwFragments = 0;
            m_bResponseIncomplete = false;
            vos::MemFree(m_pResponse);
            m_pResponse = nullptr;
            m_dwResponseLength = 0;
            AppendResponse(payload, payloadSize);
            m_state = kStateReceiving;
            m_bResponseComplete = type == kFrameSingle;
            SendReply(type);
            return 0;
        }

        case kStateReceiving: {
            if (!IsDataType(type)) return Report(QXR_ERROR_NOT_CONNECTED, kLineUnexpectedReceiving);
            // The response is whole and its final ACK is on its way: a frame
            // after it (the device's resend of a last frame whose ACK came
            // late, a stray Middle) is not part of it. Taking it would add
            // its bytes twice or fail the complete response, and its Reply
            // would replace the final ACK.
            if (m_bResponseComplete) return Report(QXR_ERROR_NOT_CONNECTED, kLineUnexpectedReceiving);
            uint32_t error = CheckFrame(frame, size);
            if (error != 0) {
                StoreError(m_dwExchangeError, error);
                SendReply(type);
                return error;
            }
            if (type == kFrameSingle || type == kFrameFirst) {
                m_dwLastActivity = vos::OsGetTickCount();
                m_dwFragments = 0;
                m_bResponseIncomplete = false;
                vos::MemFree(m_pResponse);
                m_pResponse = nullptr;
                m_dwResponseLength = 0;
                AppendResponse(payload, payloadSize);
                m_bResponseComplete = type == kFrameSingle;
                SendReply(type);
                return 0;
            }
            if (type == kFrameLast) {
                m_dwLastActivity = vos::OsGetTickCount();
                AppendResponse(payload, payloadSize);
                m_bResponseComplete = true;
                SendReply(type);
                return 0;
            }
            // Middle
            if (type != MiddleSequence(m_dwFragments + 1)) {
                StoreError(m_dwExchangeError, QXR_ERROR_FRAME_SEQUENCE);
                Report(QXR_ERROR_FRAME_SEQUENCE, kLineMiddleSequence);
                SendReply(type);
                return QXR_ERROR_FRAME_SEQUENCE;
            }
            m_dwLastActivity = vos::OsGetTickCount();
            AppendResponse(payload, payloadSize);
            SendReply(type);
            return 0;
        }

        case kStateClosed:
        default:
            return Report(QXR_ERROR_NOT_CONNECTED, kLineClosed);
    }
}

uint32_t CMessage::OnLinkOpened() {
    vos::OsLock state(m_csState);
    uint32_t result = 0;
    const bool requestStored = m_pRequest != nullptr && m_dwRequestLength != 0;
    if (m_state == kStateClosed) {
        m_state = requestStored ? kStateSending : kStateIdle;
    }
    // Start the stored request over on the new link (its first frame is not
    // signalled: the link's Send does that). Idle means no exchange runs.
    {
        vos::OsLock slot(m_tx.Lock);
        m_tx.Length = 0;
        m_tx.EndsExchange = 0;
    }
    m_dwNextFragment = 0;
    if (m_pRequest && m_state != kStateIdle) result = BuildNextFrame();
    StoreError(m_dwExchangeError, 0);
    vos::EventReset(m_hResponseEvent);
    vos::EventReset(m_hAcceptEvent);
    return result;
}

uint32_t CMessage::OnLinkClosed() {
    vos::OsLock state(m_csState);
    m_state = kStateClosed;
    StoreError(m_dwExchangeError, QXR_ERROR_NOT_CONNECTED);
    vos::EventSet(m_hResponseEvent);
    vos::EventSet(m_hAcceptEvent);
    return 0;
}

uint32_t CMessage::GetPendingFrame(TxFrame** frame) {
    vos::OsLock state(m_csState);
    if (!frame) return Report(QXR_ERROR_NO_DATA, kLinePendingNullOut);
    vos::OsLock slot(m_tx.Lock);
    if (m_tx.Length == 0) return QXR_ERROR_NO_DATA;
    *frame = &m_tx;
    return 0;
}

uint32_t CMessage::OnFrameSent() {
    vos::OsLock state(m_csState);
    if (m_state != kStateReceiving) return Report(QXR_ERROR_STATE, kLineFrameSentState);
    // A fragment was lost (reported by AppendResponse): the exchange fails.
    if (m_bResponseIncomplete) StoreError(m_dwExchangeError, QXR_ERROR_OUT_OF_MEMORY);
    m_state = kStateReceived;
    vos::EventSet(m_hResponseEvent);
    return 0;
}

uint32_t CMessage::CheckTimeouts() {
    uint32_t result;
    vos::OsHandle signal;
    {
        vos::OsLock state(m_csState);
        ++m_nDeferLinkSignal;
        result = CheckTimeoutsLocked();
        --m_nDeferLinkSignal;
        signal = TakeLinkSignal();
    }
    if (signal) vos::EventSet(signal);
    return result;
}

void CMessage::FailResponseWait(int line) {
    StoreError(m_dwExchangeError, QXR_ERROR_RECV_TIMEOUT);
    Report(QXR_ERROR_RECV_TIMEOUT, line);
    vos::EventSet(m_hResponseEvent);
}

uint32_t CMessage::CheckTimeoutsLocked() {
    const uint32_t now = vos::OsGetTickCount();
    // Limits are added in unsigned 32-bit arithmetic, like the tick count.
    switch (m_state) {
        case kStateSending:
            if (now > static_cast<uint32_t>(m_dwLastActivity + kReplyTimeoutMs)) {
                StoreError(m_dwExchangeError, QXR_ERROR_SEND_TIMEOUT);
                Report(QXR_ERROR_SEND_TIMEOUT, kLineSendTimeout);
                vos::EventSet(m_hAcceptEvent);
            }
            break;
        case kStateReceiving:
            if (now > static_cast<uint32_t>(m_dwLastActivity + kResponseTimeoutMs))
                FailResponseWait(kLineRecvTimeoutReceiving);
            break;
        case kStateWaiting:
            if (now > static_cast<uint32_t>(m_dwLastActivity + kResponseTimeoutMs)) {
                FailResponseWait(kLineRecvTimeoutWaiting);
            } else {
                BuildFrame(kFramePoll, nullptr, 0);
                SignalLink();
            }
            break;
        default:
            break;
    }
    return 0;
}

void CMessage::SetLink(CCommIf* link) {
    vos::OsLock state(m_csState);
    m_pLink = link;
}

MessageState CMessage::GetState() const {
    vos::OsLock state(m_csState);
    return m_state;
}

uint32_t CMessage::GetLastActivity() const {
    vos::OsLock state(m_csState);
    return m_dwLastActivity;
}

// ---- internals (state lock held) ---------------------------------------------------

void CMessage::BuildFrame(uint8_t type, const uint8_t* payload, uint32_t size) {
    vos::OsLock slot(m_tx.Lock);
    m_tx.Length = 0;
    m_tx.EndsExchange = 0;
    uint8_t* f = m_tx.Frame;
    f[0] = kFrameStart;
    f[1] = type;
    f[2] = static_cast<uint8_t>(size & 0xFF);
    f[3] = static_cast<uint8_t>(size >> 8);
    if (size) std::memcpy(f + 4, payload, size);
    uint8_t sum = 0;
    for (uint32_t i = 1; i < 4 + size; ++i) sum = static_cast<uint8_t>(sum + f[i]);
    f[4 + size] = sum;
    f[5 + size] = kFrameEnd;
    m_tx.Length = size + 6;
}

uint32_t CMessage::BuildNextFrame() {
    {
        vos::OsLock slot(m_tx.Lock);
        m_tx.Length = 0;
        m_tx.EndsExchange = 0;
    }
    const uint32_t index = m_dwNextFragment;
    if (index == 0) {
        if (m_dwRequestLength <= kMaxPayload)
            BuildFrame(kFrameSingle, m_pRequest, m_dwRequestLength);
        else
            BuildFrame(kFrameFirst, m_pRequest, kMaxPayload);
    } else {
        const int64_t left = static_cast<int64_t>(m_dwRequestLength) - static_cast<int64_t>(index) * kMaxPayload;
        if (left < 1) return QXR_ERROR_NO_DATA;
        const uint8_t* from = m_pRequest + static_cast<size_t>(index) * kMaxPayload;
        if (left <= static_cast<int64_t>(kMaxPayload))
            BuildFrame(kFrameLast, from, static_cast<uint32_t>(left));
        else
            BuildFrame(MiddleSequence(index + 1), from, kMaxPayload);
    }
    m_dwNextFragment = index + 1;
    if (index != 0) SignalLink();
    return 0;
}

uint32_t CMessage::SendReply(uint8_t receivedType) {
    uint8_t payload[5];
    if (m_dwExchangeError != 0) {
        const uint32_t code = m_dwExchangeError;
        payload[0] = kNak;
        payload[1] = static_cast<uint8_t>(code);
        payload[2] = static_cast<uint8_t>(code >> 8);
        payload[3] = static_cast<uint8_t>(code >> 16);
        payload[4] = static_cast<uint8_t>(code >> 24);
        BuildFrame(kFrameReply, payload, 5);
    } else {
        payload[0] = kAck;
        payload[1] = static_cast<uint8_t>(m_state);
        BuildFrame(kFrameReply, payload, 2);
        if (receivedType == kFrameSingle || receivedType == kFrameLast) {
            {
                vos::OsLock slot(m_tx.Lock);
                m_tx.EndsExchange = 1;
            }
            if (m_pLink) m_pLink->StopReceive();
        }
    }
    SignalLink();
    return 0;
}

uint32_t CMessage::AppendResponse(const uint8_t* payload, uint32_t size) {
    if (!payload || size == 0) return Report(QXR_ERROR_STATE, kLineAppendArgument);
    if (m_dwFragments == 0) {
        vos::MemFree(m_pResponse);
        m_pResponse = nullptr;
        m_dwResponseLength = 0;
        uint8_t* block = static_cast<uint8_t*>(vos::MemAlloc(size));
        // The fragment counts even when it is lost, so that the next Middle
        // number is checked against the device's own count.
        m_dwFragments = 1;
        if (!block) {
            m_bResponseIncomplete = true;
            return Report(QXR_ERROR_OUT_OF_MEMORY, kLineAppendFirstAlloc);
        }
        std::memcpy(block, payload, size);
        m_pResponse = block;
        m_dwResponseLength = size;
        return 0;
    }
    uint8_t* block = static_cast<uint8_t*>(vos::MemAlloc(static_cast<size_t>(m_dwResponseLength) + size));
    ++m_dwFragments;
    if (!block) {
        m_bResponseIncomplete = true;
        return Report(QXR_ERROR_OUT_OF_MEMORY, kLineAppendNextAlloc);
    }
    if (m_dwResponseLength) std::memcpy(block, m_pResponse, m_dwResponseLength);
    std::memcpy(block + m_dwResponseLength, payload, size);
    vos::MemFree(m_pResponse);
    m_pResponse = block;
    m_dwResponseLength += size;
    return 0;
}

uint32_t CMessage::CheckFrame(const uint8_t* frame, uint32_t size) {
    if (!frame || size < 4) return Report(QXR_ERROR_STATE, kLineCheckArgument);
    const uint32_t lengthField = static_cast<uint32_t>(frame[2]) | static_cast<uint32_t>(frame[3]) << 8;
    if (size < 6 || size - 6 != lengthField) return Report(QXR_ERROR_FRAME_LENGTH, kLineCheckLength);
    uint8_t sum = 0;
    for (uint32_t i = 1; i <= size - 3; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    if (sum != frame[size - 2]) return Report(QXR_ERROR_FRAME_CHECKSUM, kLineCheckChecksum);
    if (frame[0] != kFrameStart || frame[size - 1] != kFrameEnd)
        return Report(QXR_ERROR_FRAME_FORMAT, kLineCheckDelimiters);
    if (frame[1] == kFrameReply) {
        const bool ack = lengthField >= 1 && frame[4] == kAck;
        const bool nak = lengthField >= 1 && frame[4] == kNak;
        if (!((ack && lengthField == 2) || (nak && lengthField == 5))) {
            StoreError(m_dwExchangeError, QXR_ERROR_FRAME_FORMAT);
            return Report(QXR_ERROR_FRAME_FORMAT, kLineCheckReplyForm);
        }
    }
    return 0;
}

vos::OsHandle CMessage::TakeLinkSignal() {
    vos::OsHandle signal = m_hLinkSignal;
    m_hLinkSignal = nullptr;
    return signal;
}

void CMessage::SignalLink() {
    if (!m_pLink) return;
    if (m_nDeferLinkSignal) m_hLinkSignal = m_pLink->GetSendRequestEvent();
    else vos::EventSet(m_pLink->GetSendRequestEvent());
}
