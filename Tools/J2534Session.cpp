#include "Tools/J2534Session.h"

#include <cstdio>
#include <cstring>

#include "Tools/Text.h"

namespace cli {

namespace {

struct ProtocolEntry {
    const char* name;
    uint32_t id;
    uint32_t baud;
};

const ProtocolEntry kProtocols[] = {
    {"J1850VPW", J1850VPW, 10400}, {"J1850PWM", J1850PWM, 41600}, {"ISO9141", ISO9141, 10400},
    {"ISO14230", ISO14230, 10400}, {"CAN", CAN, 500000},          {"ISO15765", ISO15765, 500000},
};

constexpr size_t kReadBatch = 16;

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

bool ProtocolByName(const std::string& name, uint32_t* protocol) {
    const std::string upper = Upper(name);
    for (const ProtocolEntry& p : kProtocols) {
        if (upper == p.name) {
            *protocol = p.id;
            return true;
        }
    }
    return false;
}

const char* ProtocolName(uint32_t protocol) {
    for (const ProtocolEntry& p : kProtocols)
        if (p.id == protocol) return p.name;
    return "?";
}

uint32_t DefaultBaud(uint32_t protocol) {
    for (const ProtocolEntry& p : kProtocols)
        if (p.id == protocol) return p.baud;
    return 0;
}

bool HasCanId(uint32_t protocol) { return protocol == CAN || protocol == ISO15765; }

PASSTHRU_MSG MakeMessage(uint32_t protocol, const std::vector<uint8_t>& bytes, uint32_t txFlags) {
    PASSTHRU_MSG msg;
    std::memset(&msg, 0, sizeof msg);
    msg.ProtocolID = protocol;
    msg.TxFlags = txFlags;
    msg.DataSize = static_cast<uint32_t>(bytes.size() > PASSTHRU_MSG_DATA_SIZE ? PASSTHRU_MSG_DATA_SIZE : bytes.size());
    if (msg.DataSize) std::memcpy(msg.Data, bytes.data(), msg.DataSize);
    return msg;
}

bool ParseMessage(const std::string& text, uint32_t protocol, PASSTHRU_MSG* msg, std::string* error) {
    std::vector<uint8_t> bytes;
    uint32_t flags = protocol == ISO15765 ? ISO15765_FRAME_PAD : 0;
    const size_t hash = text.find('#');
    if (hash != std::string::npos) {
        uint32_t id = 0;
        if (hash == 0 || hash > 8 || !ParseUint32("0x" + text.substr(0, hash), &id)) {
            *error = "'" + text.substr(0, hash) + "' is not a hex identifier";
            return false;
        }
        std::vector<uint8_t> data;
        if (!ParseHexBytes(text.substr(hash + 1), &data)) {
            *error = "'" + text.substr(hash + 1) + "' is not hex bytes";
            return false;
        }
        if (HasCanId(protocol)) {
            bytes = {static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8),
                     static_cast<uint8_t>(id)};
            if (id > 0x7FF) flags |= CAN_29BIT_ID;
        } else {
            // K-line and J1850: the "identifier" is the header bytes.
            std::vector<uint8_t> header;
            if (!ParseHexBytes(text.substr(0, hash), &header)) {
                *error = "'" + text.substr(0, hash) + "' is not hex bytes";
                return false;
            }
            bytes = header;
        }
        bytes.insert(bytes.end(), data.begin(), data.end());
    } else if (!ParseHexBytes(text, &bytes)) {
        *error = "'" + text + "' is not a message (ID#DATA or hex bytes)";
        return false;
    }
    if (bytes.empty() || bytes.size() > PASSTHRU_MSG_DATA_SIZE) {
        *error = "a message has 1 to 4128 bytes";
        return false;
    }
    if (HasCanId(protocol) && bytes.size() < 4) {
        *error = "a CAN message begins with its 4-byte identifier (ID#DATA)";
        return false;
    }
    if (protocol == CAN && bytes.size() > 12) {
        *error = "a CAN frame carries at most 8 data bytes";
        return false;
    }
    *msg = MakeMessage(protocol, bytes, flags);
    return true;
}

std::string MessageId(const PASSTHRU_MSG& msg) {
    if (!HasCanId(msg.ProtocolID) || msg.DataSize < 4) return std::string();
    const uint32_t id = (static_cast<uint32_t>(msg.Data[0]) << 24) | (static_cast<uint32_t>(msg.Data[1]) << 16) |
                        (static_cast<uint32_t>(msg.Data[2]) << 8) | msg.Data[3];
    char text[16];
    if ((msg.RxStatus & CAN_29BIT_ID) || (msg.TxFlags & CAN_29BIT_ID) || id > 0x7FF)
        std::snprintf(text, sizeof text, "%08X", id);
    else
        std::snprintf(text, sizeof text, "%03X", id);
    return text;
}

std::string MessageData(const PASSTHRU_MSG& msg) {
    const uint32_t size = msg.DataSize > PASSTHRU_MSG_DATA_SIZE ? PASSTHRU_MSG_DATA_SIZE : msg.DataSize;
    const uint32_t skip = HasCanId(msg.ProtocolID) && size >= 4 ? 4 : 0;
    return HexBytes(msg.Data + skip, size - skip);
}

const char* MessageKind(const PASSTHRU_MSG& msg) {
    if (msg.RxStatus & TX_MSG_TYPE) return "echo";
    if (msg.RxStatus & TX_INDICATION) return "tx-done";
    if (msg.RxStatus & START_OF_MESSAGE) return "rx-start";
    return "rx";
}

bool IsPlainReceive(const PASSTHRU_MSG& msg) {
    return (msg.RxStatus & (TX_MSG_TYPE | TX_INDICATION | START_OF_MESSAGE)) == 0 && msg.DataSize > 0;
}

PassThruSession::~PassThruSession() {
    if (m_connected) PassThruDisconnect(m_channel);
    if (m_open) PassThruClose(m_device);
}

int PassThruSession::Fail(uint32_t status, const std::string& what) {
    char text[80];
    std::memset(text, 0, sizeof text);
    PassThruGetLastError(text);
    text[sizeof text - 1] = 0;
    return m_ctx.out.Fail(J2534Failure(status, text, what));
}

int PassThruSession::Open() {
    const uint32_t status = PassThruOpen(nullptr, &m_device);
    if (status != STATUS_NOERROR) return Fail(status, "PassThruOpen failed");
    m_open = true;
    return kExitOk;
}

int PassThruSession::Connect(uint32_t protocol, uint32_t flags, uint32_t baud) {
    const uint32_t status = PassThruConnect(m_device, protocol, flags, baud, &m_channel);
    if (status != STATUS_NOERROR)
        return Fail(status, std::string("cannot connect ") + ProtocolName(protocol) + " at " + std::to_string(baud) +
                                " baud");
    m_connected = true;
    m_protocol = protocol;
    return kExitOk;
}

int PassThruSession::SetConfig(uint32_t parameter, uint32_t value) {
    SCONFIG config = {parameter, value};
    SCONFIG_LIST list = {1, &config};
    const uint32_t status = PassThruIoctl(m_channel, SET_CONFIG, &list, nullptr);
    if (status != STATUS_NOERROR) return Fail(status, "SET_CONFIG " + std::to_string(parameter) + " failed");
    return kExitOk;
}

int PassThruSession::StartFilter(uint32_t type, const PASSTHRU_MSG* mask, const PASSTHRU_MSG* pattern,
                                 const PASSTHRU_MSG* flow, uint32_t* filterId) {
    PASSTHRU_MSG m = *mask, p = *pattern, f;
    if (flow) f = *flow;
    const uint32_t status = PassThruStartMsgFilter(m_channel, type, &m, &p, flow ? &f : nullptr, filterId);
    if (status != STATUS_NOERROR) return Fail(status, "cannot start a filter");
    return kExitOk;
}

int PassThruSession::StartPeriodic(PASSTHRU_MSG* msg, uint32_t intervalMs, uint32_t* msgId) {
    const uint32_t status = PassThruStartPeriodicMsg(m_channel, msg, msgId, intervalMs);
    if (status != STATUS_NOERROR) return Fail(status, "cannot start a periodic message");
    return kExitOk;
}

int PassThruSession::Write(PASSTHRU_MSG* msg, uint32_t timeoutMs) {
    uint32_t one = 1;
    const uint32_t status = PassThruWriteMsgs(m_channel, msg, &one, timeoutMs);
    if (status != STATUS_NOERROR) return Fail(status, "cannot send " + MessageId(*msg) + " " + MessageData(*msg));
    return kExitOk;
}

int PassThruSession::ClearReceived() {
    const uint32_t status = PassThruIoctl(m_channel, CLEAR_RX_BUFFER, nullptr, nullptr);
    if (status != STATUS_NOERROR) return Fail(status, "CLEAR_RX_BUFFER failed");
    return kExitOk;
}

int PassThruSession::Read(uint32_t timeoutMs, std::vector<PASSTHRU_MSG>* out) {
    std::vector<PASSTHRU_MSG> batch(kReadBatch);
    std::memset(batch.data(), 0, batch.size() * sizeof(PASSTHRU_MSG));
    uint32_t n = static_cast<uint32_t>(batch.size());
    const uint32_t status = PassThruReadMsgs(m_channel, batch.data(), &n, timeoutMs);
    if (status == ERR_BUFFER_EMPTY) return kExitOk;
    if (status == ERR_TIMEOUT) {
        // Fewer than asked came: the count is not passed back, the messages
        // that arrived are the ones filled in.
        n = 0;
        while (n < batch.size() && batch[n].DataSize != 0) ++n;
    } else if (status != STATUS_NOERROR) {
        return Fail(status, "PassThruReadMsgs failed");
    }
    for (uint32_t i = 0; i < n && i < batch.size(); ++i) out->push_back(batch[i]);
    return kExitOk;
}

}  // namespace cli
