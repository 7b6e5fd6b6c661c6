// The frame controller (see FrameCtrl.h).
//
// A candidate whose link object cannot be constructed (ConstructLink gives
// null: no memory, or no such link in this build) counts as a link whose Send
// failed: 0x900d000d is reported here, the exchange is ended, and the next
// Transmit starts again from the USB entry.
#include "Pc/FrameCtrl/FrameCtrl.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Lib/Omnel/Omnel.h"
#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "Pc/Os/OsComPorts.h"
#include "Pc/Os/OsEvent.h"

namespace {

const char kSource[] = "Pc/FrameCtrl/FrameCtrl";

constexpr int kLineTransmitNoMessage = 148;
constexpr int kLineNoLinkObject = 160;
constexpr int kLineWaitNoLink = 223;
constexpr int kLineWaitNoMessage = 231;
constexpr int kLineWaitFailed = 243;
constexpr int kLineBadCommDevice = 300;
constexpr int kLineGetCommDeviceNull = 324;

uint32_t Report(uint32_t code, int line) {
    ErrReportf(code, "[PC]%s(%d):", kSource, line);
    return code;
}

bool IsNoAnswer(uint32_t error) { return error == QXR_ERROR_SEND_TIMEOUT || error == QXR_ERROR_NOT_CONNECTED; }

LinkEntry* NewEntry(uint32_t commDevice, const std::string* name) {
    LinkEntry* entry = new (std::nothrow) LinkEntry{commDevice, nullptr, nullptr};
    if (!entry) return nullptr;
    if (name) {
        entry->portName = new (std::nothrow) char[name->size() + 1];
        if (!entry->portName) {
            delete entry;
            return nullptr;
        }
        std::memcpy(entry->portName, name->c_str(), name->size() + 1);
    }
    return entry;
}

}  // namespace

FrameCtrl::FrameCtrl(CMessage* message)
    : m_pLink(nullptr), m_pMessage(message), m_pCandidates(nullptr), m_dwCurrentIndex(0) {
    // USB first, then every port the system lists whose name begins with
    // "COM" (exact case), in the listed order.
    m_pCandidates = NewEntry(kCommUsb, nullptr);
    LinkEntry* tail = m_pCandidates;
    if (!tail) return;
    for (const std::string& name : vos::EnumPorts()) {
        if (name.compare(0, 3, "COM") != 0) continue;
        LinkEntry* entry = NewEntry(kCommSerial, &name);
        if (!entry) break;
        tail->next = entry;
        tail = entry;
    }
}

FrameCtrl::~FrameCtrl() {
    while (m_pCandidates) {
        LinkEntry* next = m_pCandidates->next;
        delete[] m_pCandidates->portName;
        delete m_pCandidates;
        m_pCandidates = next;
    }
    DeleteLink();
}

void FrameCtrl::DeleteLink() {
    if (!m_pLink) return;
    // The message layer lets go of the link before it closes, so that no
    // frame signals a link that is being taken down.
    if (m_pMessage) m_pMessage->SetLink(nullptr);
    CCommIf* link = m_pLink;
    m_pLink = nullptr;
    delete link;
}

uint32_t FrameCtrl::CreateLink(uint32_t commDevice, const char* portName) {
    DeleteLink();
    if (commDevice != kCommUsb && commDevice != kCommSerial) return Report(QXR_ERROR_STATE, kLineBadCommDevice);
    // Constructing a link opens it; a failed opening shows in its Send.
    CCommIf* link = ConstructLink(commDevice, m_pMessage, commDevice == kCommSerial ? portName : nullptr);
    m_pLink = link;
    if (m_pMessage) m_pMessage->SetLink(link);
    return 0;
}

// Send on the current link; a candidate without a link object fails here.
static uint32_t SendOn(CCommIf* link) {
    if (!link) return Report(QXR_ERROR_PCIF_TRANSMIT, kLineNoLinkObject);
    return link->Send();
}

// The outcome of the send phase, read after Send returned. Once the request
// has been accepted, the message layer waits for or receives the response,
// and the exchange error belongs to the response's frames: the response may
// already be arriving while this thread wakes up, and a bad frame of it (NAKed
// and sent again by the device) is no failure of the request. A failed send
// phase leaves the layer Sending (no Reply, a NAK) or Closed.
static uint32_t SendPhaseError(CMessage* message) {
    const uint32_t e = message->GetExchangeError();
    if (e == 0) return 0;
    const MessageState state = message->GetState();
    if (state == kStateWaiting || state == kStateReceiving || state == kStateReceived) return 0;
    return e;
}

uint32_t FrameCtrl::Transmit() {
    // Checked before a link is made: a link needs the message layer.
    if (!m_pMessage) return Report(QXR_ERROR_NO_MESSAGE, kLineTransmitNoMessage);
    if (!m_pLink && m_pCandidates) {
        m_dwCurrentIndex = 0;
        CreateLink(m_pCandidates->commDevice, m_pCandidates->portName);
    }

    uint32_t r = SendOn(m_pLink);
    if (r != 0) {
        m_pMessage->EndExchange();
        return r;
    }
    uint32_t e = SendPhaseError(m_pMessage);
    if (e == 0) return 0;
    if (!IsNoAnswer(e)) {
        m_pMessage->EndExchange();
        return e;
    }

    // Fail-over: every other candidate in list order; the one that just
    // failed is not tried again in this pass.
    uint32_t i = 0;
    for (LinkEntry* entry = m_pCandidates; entry; entry = entry->next, ++i) {
        if (i == m_dwCurrentIndex) continue;
        CreateLink(entry->commDevice, entry->portName);
        if (!m_pLink) {
            r = SendOn(m_pLink);
            m_dwCurrentIndex = i;
            m_pMessage->EndExchange();
            return r;
        }
        r = m_pLink->Send();
        if (r != 0) {
            m_dwCurrentIndex = i;
            return r;
        }
        e = SendPhaseError(m_pMessage);
        if (e == 0) {
            m_dwCurrentIndex = i;
            return 0;
        }
        if (IsNoAnswer(e)) continue;
        m_dwCurrentIndex = i;
        m_pMessage->EndExchange();
        return e;
    }

    // No candidate answered: the next Transmit starts over with USB.
    DeleteLink();
    m_pMessage->EndExchange();
    return e;
}

uint32_t FrameCtrl::WaitResponse() {
    if (!m_pLink) return Report(QXR_ERROR_NO_LINK, kLineWaitNoLink);
    if (!m_pMessage) return Report(QXR_ERROR_NO_MESSAGE, kLineWaitNoMessage);
    if (vos::EventWait(m_pMessage->GetResponseEvent(), vos::kOsInfinite) != vos::kWaitObject0)
        return Report(QXR_ERROR_WAIT_RESPONSE, kLineWaitFailed);
    uint32_t e = m_pMessage->GetExchangeError();
    if (e == 0) return 0;
    m_pMessage->EndExchange();
    return e;
}

uint32_t FrameCtrl::GetCommDevice(uint32_t* device) {
    if (!device) return Report(QXR_ERROR_NULL_OUTPUT, kLineGetCommDeviceNull);
    *device = m_pLink ? m_pLink->GetCommDevice() : kCommNone;
    return 0;
}
