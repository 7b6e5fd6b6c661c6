#include "Sim/Vehicle/CanChannel.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

uint32_t Fail(std::string* error, uint32_t status, const char* text) {
    if (error) *error = text;
    return status;
}

bool IsCanRate(uint32_t rate) { return rate == 125000 || rate == 250000 || rate == 500000 || rate == 1000000; }

}  // namespace

CanChannel::CanChannel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler, CanBus& bus,
                       std::function<void()> received)
    : Channel(id, protocolId, flags, scheduler, std::move(received)), m_bus(bus) {
    m_config[pt::kDataRate] = 500000;
    m_config[pt::kBitSamplePoint] = 80;
    m_config[pt::kSyncJumpWidth] = 15;
    if (Iso()) {
        m_config[pt::kIso15765Bs] = 0;
        m_config[pt::kIso15765Stmin] = 0;
        m_config[pt::kBsTx] = 0xFFFF;
        m_config[pt::kStminTx] = 0xFFFF;
        m_config[pt::kIso15765WftMax] = 0;
    }
    m_bus.Attach(this);
}

CanChannel::~CanChannel() {
    m_bus.Detach(this);
    m_links.clear();
}

bool CanChannel::Accepts(bool extended) const {
    if (Flags() & pt::kFlagCanIdBoth) return true;
    return extended == ((Flags() & pt::kFlagCan29Bit) != 0);
}

PtMessage CanChannel::Message(uint32_t id, bool extended, const uint8_t* data, size_t size, uint32_t rxStatus) const {
    PtMessage m;
    m.protocolId = ProtocolId();
    m.rxStatus = rxStatus | (extended ? pt::kRxCan29Bit : 0);
    m.data.resize(4 + size);
    WriteBe32(m.data.data(), id);
    if (size) std::memcpy(m.data.data() + 4, data, size);
    return m;
}

CanChannel::Link* CanChannel::LinkForRx(uint32_t id, bool extended) {
    for (auto& entry : m_links) {
        Link& l = entry.second;
        if (l.extended == extended && ((id ^ l.rxId) & l.rxMask) == 0) return &l;
    }
    return nullptr;
}

CanChannel::Link* CanChannel::LinkForTx(uint32_t id, bool extended) {
    for (auto& entry : m_links)
        if (entry.second.extended == extended && entry.second.txId == id) return &entry.second;
    return nullptr;
}

// ---- transmission --------------------------------------------------------------

uint32_t CanChannel::CheckTx(const PtMessage& m, std::string* error) {
    if (m.data.size() < 4) return Fail(error, pt::kErrInvalidMsg, "A message needs its 4 identifier bytes");
    if (!Iso() && m.data.size() > 12) return Fail(error, pt::kErrInvalidMsg, "A CAN frame carries at most 8 bytes");
    if (Iso() && m.data.size() == 4) return Fail(error, pt::kErrInvalidMsg, "An ISO15765 message needs data");
    if (Iso() && m.data.size() > 4 + pt::kMaxIsoTpPayload)
        return Fail(error, pt::kErrInvalidMsg, "An ISO15765 message carries at most 4095 bytes");
    if (Iso() && (m.txFlags & pt::kTxIso15765AddrType))
        return Fail(error, pt::kErrNotSupported, "ISO15765 extended addressing is not supported");
    const bool extended = (m.txFlags & pt::kFlagCan29Bit) != 0;
    if (!Accepts(extended))
        return Fail(error, pt::kErrInvalidMsg,
                    extended ? "29-bit identifier on an 11-bit channel" : "11-bit identifier on a 29-bit channel");
    const uint32_t id = ReadBe32(m.data.data());
    if (id > (extended ? 0x1FFFFFFFu : 0x7FFu)) return Fail(error, pt::kErrInvalidMsg, "Identifier out of range");
    if (Iso() && m.data.size() > 4 + 7 && !LinkForTx(id, extended))
        return Fail(error, pt::kErrNoFlowControl, "No flow control filter for this identifier");
    return pt::kNoError;
}

void CanChannel::Transmit(const PtMessage& m, std::function<void(bool)> done) {
    const bool extended = (m.txFlags & pt::kFlagCan29Bit) != 0;
    const uint32_t id = ReadBe32(m.data.data());
    if (!Iso()) {
        CanFrame f;
        f.id = id;
        f.extended = extended;
        f.dlc = static_cast<uint8_t>(m.data.size() - 4);
        std::memcpy(f.data, m.data.data() + 4, f.dlc);
        done(m_bus.Transmit(this, f));
        return;
    }
    const std::vector<uint8_t> payload(m.data.begin() + 4, m.data.end());
    const bool pad = (m.txFlags & pt::kTxIso15765FramePad) != 0;
    if (Link* link = LinkForTx(id, extended)) {
        if (!link->sender->Send(payload, pad, 0x00, done)) done(false);
        return;
    }
    // A single frame needs no flow control (functional requests); a longer
    // message whose filter went away meanwhile cannot go.
    if (payload.size() > 7) {
        done(false);
        return;
    }
    CanFrame f;
    f.id = id;
    f.extended = extended;
    f.data[0] = static_cast<uint8_t>(payload.size());
    std::memcpy(f.data + 1, payload.data(), payload.size());
    f.dlc = pad ? 8 : static_cast<uint8_t>(payload.size() + 1);
    done(m_bus.Transmit(this, f));
}

void CanChannel::OnTxDone(const PtMessage& m, bool fromWrite) {
    if (Iso() && fromWrite) {
        const bool extended = (m.txFlags & pt::kFlagCan29Bit) != 0;
        Deliver(Message(ReadBe32(m.data.data()), extended, nullptr, 0, pt::kRxTxIndication));
    }
    Channel::OnTxDone(m, fromWrite);
}

// ---- reception ----------------------------------------------------------------------

void CanChannel::OnFrame(const CanFrame& f) {
    if (!Accepts(f.extended)) return;
    if (Iso()) {
        if (Link* link = LinkForRx(f.id, f.extended)) {
            if (IsoTpType(f) == kIsoTpFlowControl) {
                link->sender->OnFlowControl(f);
            } else {
                link->lastRxId = f.id;
                link->receiver->OnFrame(f);
            }
            return;
        }
    }
    PtMessage m = Message(f.id, f.extended, f.data, f.dlc, 0);
    if (PassesFilters(m.data)) Deliver(std::move(m));
}

// ---- filters -------------------------------------------------------------------------------

uint32_t CanChannel::CheckFilter(uint32_t type, const PtMessage* mask, const PtMessage* pattern,
                                 const PtMessage* flowControl, std::string* error) {
    if (type != pt::kFlowControlFilter || !Iso()) return Channel::CheckFilter(type, mask, pattern, flowControl, error);
    if (mask->data.size() != 4 || pattern->data.size() != 4 || flowControl->data.size() != 4)
        return Fail(error, pt::kErrInvalidMsg, "Flow control filter messages carry exactly the 4 identifier bytes");
    const bool extended = (flowControl->txFlags & pt::kFlagCan29Bit) != 0;
    const uint32_t rxId = ReadBe32(pattern->data.data());
    const uint32_t txId = ReadBe32(flowControl->data.data());
    for (const auto& entry : m_links) {
        const Link& l = entry.second;
        if (l.extended == extended && (l.rxId == rxId || l.txId == txId))
            return Fail(error, pt::kErrNotUnique, "A flow control filter for these identifiers exists");
    }
    return pt::kNoError;
}

void CanChannel::OnFilterAdded(uint32_t filterId, const Filter& filter) {
    if (filter.type != pt::kFlowControlFilter) return;
    Link& l = m_links[filterId];
    l.extended = (filter.flowControl.txFlags & pt::kFlagCan29Bit) != 0;
    l.rxId = ReadBe32(filter.pattern.data.data());
    l.rxMask = ReadBe32(filter.mask.data.data());
    l.txId = ReadBe32(filter.flowControl.data.data());
    auto put = [this](const CanFrame& f) { m_bus.Transmit(this, f); };
    l.sender.reset(new IsoTpSender(m_scheduler, put));
    l.sender->SetAddress(l.txId, l.extended);
    l.sender->SetOverrides(Config(pt::kBsTx), Config(pt::kStminTx));
    l.receiver.reset(new IsoTpReceiver(m_scheduler, put));
    l.receiver->SetFlowControl(l.txId, l.extended, (filter.flowControl.txFlags & pt::kTxIso15765FramePad) != 0, 0x00);
    l.receiver->SetBlockSize(static_cast<uint8_t>(Config(pt::kIso15765Bs)), static_cast<uint8_t>(Config(pt::kIso15765Stmin)));
    l.receiver->SetMaxLength(pt::kMaxIsoTpPayload);
    Link* link = &l;
    l.receiver->onFirstFrame = [this, link] {
        Deliver(Message(link->lastRxId, link->extended, nullptr, 0, pt::kRxStartOfMessage));
    };
    l.receiver->onMessage = [this, link](std::vector<uint8_t> payload) {
        Deliver(Message(link->lastRxId, link->extended, payload.data(), payload.size(), 0));
    };
}

void CanChannel::OnFilterRemoved(uint32_t filterId) {
    auto it = m_links.find(filterId);
    if (it == m_links.end()) return;
    // A transmission in flight through this pair ends as failed, once the
    // pair is gone so that the next message cannot pick it.
    Link gone = std::move(it->second);
    m_links.erase(it);
    gone.sender->Abort();
}

// ---- configuration ----------------------------------------------------------------------

uint32_t CanChannel::CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const {
    if (parameter == pt::kDataRate && !IsCanRate(value)) {
        char text[80];
        std::snprintf(text, sizeof text, "Invalid CAN baud rate %u", value);
        return Fail(error, pt::kErrInvalidBaudrate, text);
    }
    return Channel::CheckConfig(parameter, value, error);
}

void CanChannel::OnConfigChanged(uint32_t parameter) {
    for (auto& entry : m_links) {
        Link& l = entry.second;
        if (parameter == pt::kIso15765Bs || parameter == pt::kIso15765Stmin)
            l.receiver->SetBlockSize(static_cast<uint8_t>(Config(pt::kIso15765Bs)),
                                     static_cast<uint8_t>(Config(pt::kIso15765Stmin)));
        if (parameter == pt::kBsTx || parameter == pt::kStminTx)
            l.sender->SetOverrides(Config(pt::kBsTx), Config(pt::kStminTx));
    }
}

}  // namespace sim
