// A J2534 session of the tool (PassThruOpen, one channel, its filters and
// periodic messages), closed again however the command ends; and the
// message notation of the j2534 and obd commands.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Tools/Cli.h"
#include "vantro/j2534.h"

namespace cli {

// A protocol by name ("ISO15765", "can", ...); false when unknown.
bool ProtocolByName(const std::string& name, uint32_t* protocol);
const char* ProtocolName(uint32_t protocol);
uint32_t DefaultBaud(uint32_t protocol);
// Protocols whose messages begin with a 4-byte identifier.
bool HasCanId(uint32_t protocol);

// "7E0#0902" (identifier, then data) or plain hex bytes; false with a
// message when the text is not a message. ISO15765 messages get
// ISO15765_FRAME_PAD, identifiers above 0x7FF CAN_29BIT_ID.
bool ParseMessage(const std::string& text, uint32_t protocol, PASSTHRU_MSG* msg, std::string* error);
PASSTHRU_MSG MakeMessage(uint32_t protocol, const std::vector<uint8_t>& bytes, uint32_t txFlags);

// The identifier ("7E8", "18DAF110") and data of a message as text.
std::string MessageId(const PASSTHRU_MSG& msg);
std::string MessageData(const PASSTHRU_MSG& msg);
// "rx", "echo" (a transmission looped back), "rx-start" (first frame of a
// segmented message), "tx-done" (transmission indication).
const char* MessageKind(const PASSTHRU_MSG& msg);
// Whether the message is a received message with data (no indication, no
// loopback).
bool IsPlainReceive(const PASSTHRU_MSG& msg);

class PassThruSession {
public:
    explicit PassThruSession(Context& ctx) : m_ctx(ctx) {}
    ~PassThruSession();
    PassThruSession(const PassThruSession&) = delete;
    PassThruSession& operator=(const PassThruSession&) = delete;

    // Each returns kExitOk, or prints the failure and returns its exit code.
    int Open();
    int Connect(uint32_t protocol, uint32_t flags, uint32_t baud);
    int SetConfig(uint32_t parameter, uint32_t value);
    int StartFilter(uint32_t type, const PASSTHRU_MSG* mask, const PASSTHRU_MSG* pattern, const PASSTHRU_MSG* flow,
                    uint32_t* filterId);
    int StartPeriodic(PASSTHRU_MSG* msg, uint32_t intervalMs, uint32_t* msgId);
    int Write(PASSTHRU_MSG* msg, uint32_t timeoutMs);
    int ClearReceived();
    // Reads what arrives within timeoutMs (up to 16 messages) into *out
    // (appended); kExitOk also when nothing came.
    int Read(uint32_t timeoutMs, std::vector<PASSTHRU_MSG>* out);
    int Fail(uint32_t status, const std::string& what);

    uint32_t Device() const { return m_device; }
    uint32_t Channel() const { return m_channel; }
    uint32_t Protocol() const { return m_protocol; }

private:
    Context& m_ctx;
    bool m_open = false;
    bool m_connected = false;
    uint32_t m_device = 0;
    uint32_t m_channel = 0;
    uint32_t m_protocol = 0;
};

}  // namespace cli
