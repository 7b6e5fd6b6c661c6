#include "Sim/Vehicle/Channel.h"

#include <cstdio>

namespace sim {

namespace {

constexpr size_t kTxCapacity = 256;
constexpr size_t kTxEndedKept = 4096;

std::string Format(const char* format, uint32_t a, uint32_t b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

uint32_t Fail(std::string* error, uint32_t status, const std::string& text) {
    if (error) *error = text;
    return status;
}

}  // namespace

Channel::Channel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler,
                 std::function<void()> received)
    : m_scheduler(scheduler),
      m_alive(std::make_shared<int>(0)),
      m_dwId(id),
      m_dwProtocolId(protocolId),
      m_dwFlags(flags),
      m_received(std::move(received)) {
    m_config[pt::kDataRate] = 0;
    m_config[pt::kLoopback] = 0;
}

Channel::~Channel() {
    for (auto& p : m_periodic) m_scheduler.Cancel(p.second.task);
}

uint32_t Channel::Config(uint32_t parameter) const {
    auto it = m_config.find(parameter);
    return it == m_config.end() ? 0 : it->second;
}

// ---- transmission -------------------------------------------------------------

uint32_t Channel::Queue(const std::vector<PtMessage>& messages, uint32_t* queued, uint64_t* lastSeq,
                        std::string* error) {
    *queued = 0;
    uint32_t status = pt::kNoError;
    for (const PtMessage& m : messages) {
        if (m.protocolId != m_dwProtocolId) {
            status = Fail(error, pt::kErrMsgProtocolId,
                          Format("Message protocol %u does not match the channel's protocol %u", m.protocolId,
                                 m_dwProtocolId));
            break;
        }
        status = CheckTx(m, error);
        if (status != pt::kNoError) break;
        if (m_tx.size() >= kTxCapacity) {
            status = Fail(error, pt::kErrBufferFull, "Transmit queue full");
            break;
        }
        const uint64_t seq = m_qwNextSeq++;
        m_tx.push_back(TxItem{m, seq, true, 0});
        *lastSeq = seq;
        ++*queued;
    }
    Pump();
    return status;
}

bool Channel::TxEnded(uint64_t seq, bool* ok) const {
    auto it = m_txEnded.find(seq);
    if (it == m_txEnded.end()) {
        // Forgotten long ago, or not yet ended.
        if (!m_txEnded.empty() && seq < m_txEnded.begin()->first) {
            *ok = true;
            return true;
        }
        return false;
    }
    *ok = it->second;
    return true;
}

void Channel::Pump() {
    if (m_bPumping) return;
    m_bPumping = true;
    while (!m_bTxActive && !m_tx.empty()) {
        TxItem item = std::move(m_tx.front());
        m_tx.pop_front();
        m_bTxActive = true;
        const PtMessage message = item.message;
        Transmit(message, [this, item](bool ok) {
            if (item.fromWrite) {
                m_txEnded[item.seq] = ok;
                while (m_txEnded.size() > kTxEndedKept) m_txEnded.erase(m_txEnded.begin());
            }
            if (ok) OnTxDone(item.message, item.fromWrite);
            m_bTxActive = false;
            Pump();
        });
    }
    m_bPumping = false;
}

void Channel::ClearTx() {
    for (const TxItem& item : m_tx)
        if (item.fromWrite) m_txEnded[item.seq] = false;
    m_tx.clear();
}

void Channel::OnTxDone(const PtMessage& message, bool) {
    if (Config(pt::kLoopback) != 1) return;
    PtMessage echo = message;
    echo.rxStatus = pt::kRxTxMsgType | (message.txFlags & pt::kFlagCan29Bit);
    echo.txFlags = 0;
    Deliver(std::move(echo));
}

// ---- reception -------------------------------------------------------------------

void Channel::Deliver(PtMessage message) {
    message.timestamp = static_cast<uint32_t>(Now() * 1000);
    if (message.extraDataIndex == 0) message.extraDataIndex = static_cast<uint32_t>(message.data.size());
    m_rx.push_back(std::move(message));
    while (m_rx.size() > kRxCapacity) m_rx.pop_front();
    if (m_received) m_received();
}

std::vector<PtMessage> Channel::TakeRx(size_t count) {
    std::vector<PtMessage> out;
    while (count-- > 0 && !m_rx.empty()) {
        out.push_back(std::move(m_rx.front()));
        m_rx.pop_front();
    }
    return out;
}

bool Channel::Matches(const Filter& filter, const std::vector<uint8_t>& data) {
    const std::vector<uint8_t>& mask = filter.mask.data;
    const std::vector<uint8_t>& pattern = filter.pattern.data;
    if (data.size() < mask.size()) return false;
    for (size_t i = 0; i < mask.size(); ++i)
        if ((data[i] ^ pattern[i]) & mask[i]) return false;
    return true;
}

bool Channel::PassesFilters(const std::vector<uint8_t>& data) const {
    bool pass = false;
    for (const auto& entry : m_filters) {
        const Filter& f = entry.second;
        if (f.type == pt::kBlockFilter && Matches(f, data)) return false;
        if (f.type == pt::kPassFilter && Matches(f, data)) pass = true;
    }
    return pass;
}

// ---- periodic messages ---------------------------------------------------------------

uint32_t Channel::StartPeriodic(const PtMessage& message, uint32_t intervalMs, uint32_t* msgId, std::string* error) {
    if (m_periodic.size() >= kMaxPeriodic) return Fail(error, pt::kErrExceededLimit, "Too many periodic messages");
    if (intervalMs < kMinInterval || intervalMs > kMaxInterval)
        return Fail(error, pt::kErrInvalidTimeInterval, Format("Invalid time interval %u ms", intervalMs));
    if (message.protocolId != m_dwProtocolId)
        return Fail(error, pt::kErrMsgProtocolId,
                    Format("Message protocol %u does not match the channel's protocol %u", message.protocolId,
                           m_dwProtocolId));
    uint32_t status = CheckTx(message, error);
    if (status != pt::kNoError) return status;
    const uint32_t id = m_dwNextMsgId++;
    m_periodic[id] = Periodic{message, intervalMs, 0};
    *msgId = id;
    Fire(id);
    return pt::kNoError;
}

void Channel::Fire(uint32_t msgId) {
    auto it = m_periodic.find(msgId);
    if (it == m_periodic.end()) return;
    // One instance at a time: a message still waiting is not queued again.
    bool waiting = false;
    for (const TxItem& item : m_tx)
        if (!item.fromWrite && item.periodicId == msgId) waiting = true;
    if (!waiting) m_tx.push_back(TxItem{it->second.message, 0, false, msgId});
    it->second.task = m_scheduler.After(it->second.intervalMs, m_alive, [this, msgId] { Fire(msgId); });
    Pump();
}

uint32_t Channel::StopPeriodic(uint32_t msgId, std::string* error) {
    auto it = m_periodic.find(msgId);
    if (it == m_periodic.end()) return Fail(error, pt::kErrInvalidMsgId, Format("Invalid message ID %u", msgId));
    m_scheduler.Cancel(it->second.task);
    m_periodic.erase(it);
    for (auto tx = m_tx.begin(); tx != m_tx.end();) {
        if (!tx->fromWrite && tx->periodicId == msgId) tx = m_tx.erase(tx);
        else ++tx;
    }
    return pt::kNoError;
}

// ---- filters ---------------------------------------------------------------------------

uint32_t Channel::CheckFilter(uint32_t type, const PtMessage*, const PtMessage*, const PtMessage*,
                              std::string* error) {
    if (type == pt::kFlowControlFilter)
        return Fail(error, pt::kErrFailed, "Flow control filters need protocol ISO15765");
    return pt::kNoError;
}

uint32_t Channel::StartFilter(uint32_t type, const PtMessage* mask, const PtMessage* pattern,
                              const PtMessage* flowControl, uint32_t* filterId, std::string* error) {
    if (type != pt::kPassFilter && type != pt::kBlockFilter && type != pt::kFlowControlFilter)
        return Fail(error, pt::kErrFailed, Format("Unknown filter type %u", type));
    if (!mask || !pattern) return Fail(error, pt::kErrNullParameter, "Mask and pattern messages are required");
    if (type == pt::kFlowControlFilter && !flowControl)
        return Fail(error, pt::kErrNullParameter, "A flow control filter needs a flow control message");
    if (m_filters.size() >= kMaxFilters) return Fail(error, pt::kErrExceededLimit, "Too many filters");
    for (const PtMessage* m : {mask, pattern, type == pt::kFlowControlFilter ? flowControl : nullptr}) {
        if (m && m->protocolId != m_dwProtocolId)
            return Fail(error, pt::kErrMsgProtocolId,
                        Format("Filter message protocol %u does not match the channel's protocol %u", m->protocolId,
                               m_dwProtocolId));
    }
    if (mask->data.size() != pattern->data.size() || mask->data.empty() || mask->data.size() > 12)
        return Fail(error, pt::kErrInvalidMsg,
                    Format("Mask (%u bytes) and pattern (%u bytes) must have 1 to 12 equal lengths",
                           static_cast<uint32_t>(mask->data.size()), static_cast<uint32_t>(pattern->data.size())));
    uint32_t status = CheckFilter(type, mask, pattern, flowControl, error);
    if (status != pt::kNoError) return status;
    Filter f;
    f.type = type;
    f.mask = *mask;
    f.pattern = *pattern;
    if (type == pt::kFlowControlFilter) f.flowControl = *flowControl;
    const uint32_t id = m_dwNextFilterId++;
    auto inserted = m_filters.emplace(id, std::move(f));
    *filterId = id;
    OnFilterAdded(id, inserted.first->second);
    return pt::kNoError;
}

uint32_t Channel::StopFilter(uint32_t filterId, std::string* error) {
    auto it = m_filters.find(filterId);
    if (it == m_filters.end()) return Fail(error, pt::kErrInvalidFilterId, Format("Invalid filter ID %u", filterId));
    OnFilterRemoved(filterId);
    m_filters.erase(it);
    return pt::kNoError;
}

void Channel::ClearFilters() {
    for (const auto& entry : m_filters) OnFilterRemoved(entry.first);
    m_filters.clear();
}

// ---- configuration ----------------------------------------------------------------------

uint32_t Channel::GetConfig(uint32_t parameter, uint32_t* value, std::string* error) const {
    auto it = m_config.find(parameter);
    if (it == m_config.end())
        return Fail(error, pt::kErrNotSupported, Format("Parameter 0x%02X is not supported by protocol %u", parameter,
                                                         m_dwProtocolId));
    *value = it->second;
    return pt::kNoError;
}

uint32_t Channel::SetConfig(uint32_t parameter, uint32_t value, std::string* error) {
    auto it = m_config.find(parameter);
    if (it == m_config.end())
        return Fail(error, pt::kErrNotSupported, Format("Parameter 0x%02X is not supported by protocol %u", parameter,
                                                         m_dwProtocolId));
    uint32_t status = CheckConfig(parameter, value, error);
    if (status != pt::kNoError) return status;
    it->second = value;
    OnConfigChanged(parameter);
    return pt::kNoError;
}

uint32_t Channel::CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const {
    bool ok = true;
    switch (parameter) {
    case pt::kLoopback: ok = value <= 1; break;
    case pt::kParity: ok = value <= 2; break;
    case pt::kDataBits: ok = value <= 1; break;
    case pt::kFiveBaudMod: ok = value <= 3; break;
    case pt::kIso15765Bs:
    case pt::kIso15765Stmin:
    case pt::kIso15765WftMax:
    case pt::kNodeAddress: ok = value <= 0xFF; break;
    case pt::kBsTx:
    case pt::kStminTx: ok = value <= 0xFF || value == 0xFFFF; break;
    case pt::kBitSamplePoint: ok = value <= 100; break;
    default: break;
    }
    if (!ok)
        return Fail(error, pt::kErrInvalidIoctlValue, Format("Invalid value %u for parameter 0x%02X", value, parameter));
    return pt::kNoError;
}

// ---- protocol-specific Ioctls ------------------------------------------------------------

uint32_t Channel::FiveBaudInit(const std::vector<uint8_t>&, std::vector<uint8_t>*, std::string* error) {
    return Fail(error, pt::kErrNotSupported, "FIVE_BAUD_INIT needs protocol ISO9141 or ISO14230");
}

uint32_t Channel::FastInit(const PtMessage&, PtMessage*, std::string* error) {
    return Fail(error, pt::kErrNotSupported, "FAST_INIT needs protocol ISO14230");
}

uint32_t Channel::FunctLookup(uint32_t, const std::vector<uint8_t>&, std::string* error) {
    return Fail(error, pt::kErrNotSupported, "The functional message lookup table needs protocol J1850PWM");
}

}  // namespace sim
