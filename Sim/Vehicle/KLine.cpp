#include "Sim/Vehicle/KLine.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

uint32_t Fail(std::string* error, uint32_t status, const std::string& text) {
    if (error) *error = text;
    return status;
}

constexpr uint8_t kTesterAddress = 0xF1;

}  // namespace

uint8_t KLineChecksum(const std::vector<uint8_t>& bytes) {
    uint32_t sum = 0;
    for (uint8_t b : bytes) sum += b;
    return static_cast<uint8_t>(sum);
}

// ---- the ECU --------------------------------------------------------------------

KLineEcu::KLineEcu(Scheduler& scheduler, VehicleData& data)
    : m_scheduler(scheduler), m_data(data), m_services(EcuRole::Engine), m_alive(std::make_shared<int>(0)) {}

bool KLineEcu::Awake() {
    if (m_bAwake && m_scheduler.Now() - m_qwLastActivity > kP3MaxMs) m_bAwake = false;
    return m_bAwake;
}

bool KLineEcu::FiveBaudInit(uint32_t protocolId, uint8_t address, std::vector<uint8_t>* keyBytes) {
    if (address != kObdAddress && address != kAddress) return false;
    // ISO 9141-2 announces 08 08, ISO 14230-4 (KWP2000) E9 8F.
    *keyBytes = protocolId == pt::kIso9141 ? std::vector<uint8_t>{0x08, 0x08} : std::vector<uint8_t>{0xE9, 0x8F};
    m_bAwake = true;
    m_qwLastActivity = m_scheduler.Now();
    return true;
}

bool KLineEcu::FastInit(const std::vector<uint8_t>& request, std::vector<uint8_t>* answer) {
    // StartCommunication: C1 33 F1 81 (functional) or 81 10 F1 81 (physical).
    if (request.size() < 4 || request.back() != 0x81) return false;
    if (request[1] != kObdAddress && request[1] != kAddress) return false;
    *answer = {0x83, request[2], kAddress, 0xC1, 0xE9, 0x8F};
    m_bAwake = true;
    m_qwLastActivity = m_scheduler.Now();
    return true;
}

void KLineEcu::OnRequest(uint32_t protocolId, const std::vector<uint8_t>& request,
                         std::function<void(std::vector<uint8_t>)> reply) {
    if (!Awake() || request.size() < 4) return;
    std::vector<uint8_t> body;
    uint8_t tester = kTesterAddress;
    if (protocolId == pt::kIso9141) {
        // 68 6A F1 data...
        if (request[0] != 0x68 || request[1] != 0x6A) return;
        tester = request[2];
        body.assign(request.begin() + 3, request.end());
    } else {
        // fmt tgt src [len] data...
        const uint8_t fmt = request[0];
        size_t offset = 3;
        size_t length = fmt & 0x3F;
        if (length == 0) {
            length = request[3];
            offset = 4;
        }
        if (request.size() < offset + length || length == 0) return;
        if (request[1] != kObdAddress && request[1] != kAddress) return;
        tester = request[2];
        body.assign(request.begin() + static_cast<std::ptrdiff_t>(offset),
                    request.begin() + static_cast<std::ptrdiff_t>(offset + length));
    }
    m_qwLastActivity = m_scheduler.Now();
    m_scheduler.After(kP2Ms, m_alive, [this, protocolId, body, tester, reply] {
        std::vector<uint8_t> answer;
        if (!m_services.Handle(m_data, body, false, &answer)) return;
        std::vector<uint8_t> out;
        if (protocolId == pt::kIso9141) {
            out = {0x48, 0x6B, kAddress};
        } else if (answer.size() <= 0x3F) {
            out = {static_cast<uint8_t>(0x80 | answer.size()), tester, kAddress};
        } else {
            out = {0x80, tester, kAddress, static_cast<uint8_t>(std::min<size_t>(answer.size(), 255))};
        }
        out.insert(out.end(), answer.begin(), answer.end());
        m_qwLastActivity = m_scheduler.Now();
        reply(std::move(out));
    });
}

// ---- the K-line channel ------------------------------------------------------------

KLineChannel::KLineChannel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler, KLineEcu& ecu,
                           std::function<void()> received)
    : Channel(id, protocolId, flags, scheduler, std::move(received)), m_ecu(ecu) {
    const std::pair<uint32_t, uint32_t> defaults[] = {
        {pt::kDataRate, 10400}, {pt::kP1Min, 0},   {pt::kP1Max, 40},   {pt::kP2Min, 50},  {pt::kP2Max, 100},
        {pt::kP3Min, 110},      {pt::kP3Max, 10000}, {pt::kP4Min, 10},  {pt::kP4Max, 40},  {pt::kW0, 300},
        {pt::kW1, 300},         {pt::kW2, 20},     {pt::kW3, 20},      {pt::kW4, 50},     {pt::kW5, 300},
        {pt::kTidle, 300},      {pt::kTinil, 25},  {pt::kTwup, 50},    {pt::kParity, 0},  {pt::kDataBits, 0},
        {pt::kFiveBaudMod, 0}};
    for (const auto& d : defaults) m_config[d.first] = d.second;
}

KLineChannel::~KLineChannel() = default;

uint32_t KLineChannel::CheckTx(const PtMessage& m, std::string* error) {
    if (m.data.empty() || m.data.size() > 260)
        return Fail(error, pt::kErrInvalidMsg, "A K-line message carries 1 to 260 bytes");
    return pt::kNoError;
}

PtMessage KLineChannel::Received(std::vector<uint8_t> bytes) const {
    PtMessage m;
    m.protocolId = ProtocolId();
    m.extraDataIndex = static_cast<uint32_t>(bytes.size());  // where the checksum goes
    bytes.push_back(KLineChecksum(bytes));
    m.data = std::move(bytes);
    return m;
}

void KLineChannel::Transmit(const PtMessage& m, std::function<void(bool)> done) {
    if (OnLine()) {
        std::vector<uint8_t> request = m.data;
        if ((Flags() & pt::kFlagIso9141NoChecksum) && !request.empty()) request.pop_back();  // the caller's checksum
        std::weak_ptr<int> alive = m_alive;
        m_ecu.OnRequest(ProtocolId(), request, [this, alive](std::vector<uint8_t> answer) {
            if (alive.expired() || !OnLine()) return;
            PtMessage received = Received(std::move(answer));
            if (PassesFilters(received.data)) Deliver(std::move(received));
        });
    }
    done(true);  // the line takes whatever is sent
}

uint32_t KLineChannel::FiveBaudInit(const std::vector<uint8_t>& in, std::vector<uint8_t>* keyBytes,
                                    std::string* error) {
    if (in.size() != 1) return Fail(error, pt::kErrInvalidMsg, "FIVE_BAUD_INIT takes one address byte");
    if (!OnLine() || !m_ecu.FiveBaudInit(ProtocolId(), in[0], keyBytes)) {
        char text[64];
        std::snprintf(text, sizeof text, "No ECU answered the 5-baud address 0x%02X", in[0]);
        return Fail(error, pt::kErrFailed, text);
    }
    return pt::kNoError;
}

uint32_t KLineChannel::FastInit(const PtMessage& in, PtMessage* out, std::string* error) {
    if (ProtocolId() != pt::kIso14230) return Channel::FastInit(in, out, error);
    if (in.protocolId != ProtocolId())
        return Fail(error, pt::kErrMsgProtocolId, "FAST_INIT message protocol does not match the channel");
    std::vector<uint8_t> answer;
    if (!OnLine() || !m_ecu.FastInit(in.data, &answer))
        return Fail(error, pt::kErrFailed, "No ECU answered the fast initialisation");
    *out = Received(std::move(answer));
    out->timestamp = static_cast<uint32_t>(Now() * 1000);
    return pt::kNoError;
}

uint32_t KLineChannel::CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const {
    if (parameter == pt::kDataRate && (value < 1200 || value > 115200)) {
        char text[64];
        std::snprintf(text, sizeof text, "Invalid K-line baud rate %u", value);
        return Fail(error, pt::kErrInvalidBaudrate, text);
    }
    return Channel::CheckConfig(parameter, value, error);
}

// ---- J1850 ------------------------------------------------------------------------------

J1850Channel::J1850Channel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler,
                           std::function<void()> received)
    : Channel(id, protocolId, flags, scheduler, std::move(received)) {
    m_config[pt::kDataRate] = protocolId == pt::kJ1850Vpw ? 10400 : 41600;
    if (protocolId == pt::kJ1850Pwm) {
        m_config[pt::kNodeAddress] = 0xF1;
        m_config[pt::kNetworkLine] = 0;
    }
}

uint32_t J1850Channel::CheckTx(const PtMessage& m, std::string* error) {
    if (m.data.empty() || m.data.size() > 12)
        return Fail(error, pt::kErrInvalidMsg, "A J1850 message carries 1 to 12 bytes");
    return pt::kNoError;
}

void J1850Channel::Transmit(const PtMessage&, std::function<void(bool)> done) { done(true); }

uint32_t J1850Channel::CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const {
    if (parameter == pt::kDataRate) {
        const bool vpw = ProtocolId() == pt::kJ1850Vpw;
        if (vpw ? (value != 10400 && value != 41600) : (value != 41600 && value != 83300)) {
            char text[64];
            std::snprintf(text, sizeof text, "Invalid J1850 baud rate %u", value);
            return Fail(error, pt::kErrInvalidBaudrate, text);
        }
    }
    if (parameter == pt::kNetworkLine && value > 2)
        return Fail(error, pt::kErrInvalidIoctlValue, "NETWORK_LINE is 0, 1 or 2");
    return Channel::CheckConfig(parameter, value, error);
}

uint32_t J1850Channel::FunctLookup(uint32_t ioctlId, const std::vector<uint8_t>& addresses, std::string* error) {
    if (ProtocolId() != pt::kJ1850Pwm) return Channel::FunctLookup(ioctlId, addresses, error);
    switch (ioctlId) {
    case pt::kClearFunctMsgLookupTable:
        m_lookup.clear();
        break;
    case pt::kAddToFunctMsgLookupTable:
        for (uint8_t a : addresses)
            if (std::find(m_lookup.begin(), m_lookup.end(), a) == m_lookup.end()) m_lookup.push_back(a);
        if (m_lookup.size() > 32) {
            m_lookup.resize(32);
            return Fail(error, pt::kErrExceededLimit, "The functional lookup table holds 32 addresses");
        }
        break;
    case pt::kDeleteFromFunctMsgLookupTable:
        for (uint8_t a : addresses) m_lookup.erase(std::remove(m_lookup.begin(), m_lookup.end(), a), m_lookup.end());
        break;
    default:
        break;
    }
    return pt::kNoError;
}

}  // namespace sim
