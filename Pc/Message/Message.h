// The message layer: one exchange at a time between ExecuteCommand and the
// current link. Cuts requests into frames, waits for the device's Reply to
// each, polls while the device works, checks, acknowledges and joins the
// response frames, and counts every time-out of an exchange.
//
// Locks: the state lock guards everything but the transmit slot; the slot has
// its own lock, always taken after the state lock.
#pragma once

#include <cstdint>

#include "Pc/Os/OsCritSec.h"
#include "Pc/Os/OsTypes.h"

class CCommIf;

// Frame layout.
constexpr uint8_t kFrameStart = 0x02;
constexpr uint8_t kFrameEnd = 0x03;
constexpr uint32_t kMaxPayload = 511;
constexpr uint32_t kMaxFrame = kMaxPayload + 6;  // 517

enum FrameType : uint8_t {
    kFrameSingle = 0x00,
    kFrameFirst = 0x01,
    kFrameLast = 0x02,
    kFrameReply = 0x03,
    kFramePoll = 0x7F,
    kFrameMiddleBase = 0x80,
};

enum MessageState : uint32_t {
    kStateClosed = 0,
    kStateIdle = 1,
    kStateSending = 2,
    kStateReceiving = 3,
    kStateReceived = 4,
    kStateWaiting = 5,
};

constexpr uint32_t kReplyTimeoutMs = 2000;
constexpr uint32_t kResponseTimeoutMs = 10000;

// Fragment k (k >= 2) of a long message is a Middle frame numbered
// 0x80 + ((k - 2) mod 128).
inline uint8_t MiddleSequence(uint32_t k) { return static_cast<uint8_t>(0x80 + ((k - 2) % 128)); }

// The transmit slot: one frame at a time.
struct TxFrame {
    uint8_t Frame[kMaxFrame];
    uint32_t Length;        // 0 = nothing pending
    uint32_t EndsExchange;  // the frame is the ACK of the last response frame
    vos::OsCriticalSection Lock;
};

class CMessage {
public:
    CMessage();
    virtual ~CMessage();
    CMessage(const CMessage&) = delete;
    CMessage& operator=(const CMessage&) = delete;

    // ExecuteCommand's side.
    uint32_t SendRequest(const uint8_t* bytes, uint32_t length, const uint8_t** previous);
    uint32_t GetResponse(const uint8_t** bytes, uint32_t* length);

    // The frame controller's side.
    uint32_t GetExchangeError() const;  // without locking
    uint32_t EndExchange();
    vos::OsHandle GetResponseEvent() const { return m_hResponseEvent; }

    // The links' side.
    vos::OsHandle GetAcceptEvent() const { return m_hAcceptEvent; }
    uint32_t OnLinkOpened();
    uint32_t OnLinkClosed();
    uint32_t GetPendingFrame(TxFrame** frame);
    uint32_t OnFrameSent();
    uint32_t CheckTimeouts();
    uint32_t OnFrameReceived(const uint8_t* frame, uint32_t size);

    // The current link (set by the frame controller's CreateLink).
    void SetLink(CCommIf* link);
    CCommIf* GetLink() const { return m_pLink; }

    // Observers for tests and diagnostics.
    MessageState GetState() const;
    uint32_t GetLastActivity() const;

private:
    uint32_t BuildNextFrame();
    void BuildFrame(uint8_t type, const uint8_t* payload, uint32_t size);
    uint32_t SendReply(uint8_t receivedType);
    uint32_t AppendResponse(const uint8_t* payload, uint32_t size);
    uint32_t CheckFrame(const uint8_t* frame, uint32_t size);
    void SignalLink();
    // The receive and transmit threads' entry points set the link's
    // send-request event only after releasing the state lock, so that the
    // transmit thread it wakes does not block on that lock at once.
    uint32_t FrameReceivedLocked(const uint8_t* frame, uint32_t size);
    uint32_t CheckTimeoutsLocked();
    // The response did not come or stopped coming in time: 0x900d0018,
    // reported with this line, and the response event set.
    void FailResponseWait(int line);
    vos::OsHandle TakeLinkSignal();

    mutable vos::OsCriticalSection m_csState;
    MessageState m_state;
    uint32_t m_dwLastActivity;
    volatile uint32_t m_dwExchangeError;
    const uint8_t* m_pRequest;
    uint32_t m_dwRequestLength;
    uint32_t m_dwNextFragment;
    uint8_t* m_pResponse;
    uint32_t m_dwResponseLength;
    uint32_t m_dwFragments;
    bool m_bResponseIncomplete;
    // The Single or Last frame of the response was taken and its final ACK
    // queued: nothing that comes after it may change the response or replace
    // that ACK.
    bool m_bResponseComplete;
    uint32_t m_nDeferLinkSignal;       // > 0: SignalLink only notes the event
    vos::OsHandle m_hLinkSignal;       // the noted send-request event
    vos::OsHandle m_hResponseEvent;
    vos::OsHandle m_hAcceptEvent;
    TxFrame m_tx;
    CCommIf* m_pLink;
};
