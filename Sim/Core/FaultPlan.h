// Fault injection for the simulated device.
//
// A fault rule names what goes wrong, which exchanges or frames it hits and
// how many times. Rules come from the command line (--fault RULE), from a
// file of rules (one per line) or from tests through Add(). The rule syntax
// is FaultPlan::Syntax(), printed by vantro-sim --help:
//
//   KIND[=VALUE][@KEY=VALUE[,KEY=VALUE]...]
//
//   checksum@code=3,times=2    the first two response frames of command 3
//                              arrive with a wrong checksum
//   nak=0x12@code=0x0B7F       the request frame of command 0x0B7F is NAKed
//   late=3000@on=reply         the next Reply to a request frame comes 3 s late
//
// The plan is shared between the device's worker thread and the tests, so
// every operation takes the plan's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

enum class FaultKind {
    Checksum,   // wrong checksum in a frame the device sends
    Length,     // wrong length field (one more than the payload)
    Delimiter,  // wrong end byte (VALUE "start": wrong start byte)
    DropReply,  // the Reply to a request frame is not sent
    DropFrame,  // a response frame is not sent (the device resends it after its reply time-out)
    Repeat,     // a Middle response frame is sent a second time after its Reply
    Nak,        // a request frame is answered with a NAK carrying VALUE; the request is dropped
    Refuse,     // the command is answered with status 21 and refusal code VALUE
    Late,       // the response (on=reply: the Reply) comes VALUE ms late
    Silent,     // the device falls silent for the exchange
    PollState,  // Polls are answered with state VALUE and the response is dropped
    Noise,      // VALUE bytes of line noise before a frame
    Oversize,   // the command is answered as a hostile device would
    ClosePort,  // the transport closes its port, reopening it after VALUE ms
    DetachUsb,  // the transport detaches the USB device, attaching it after VALUE ms
};

// The frames a frame fault hits.
enum class FaultTarget {
    Data,   // response frames (and, for late and silent, the response)
    Reply,  // Replies to request frames
    Poll,   // Poll answers
};

struct FaultRule {
    FaultKind kind = FaultKind::Checksum;
    uint32_t value = 0;
    bool anyCode = true;
    uint32_t code = 0;      // with anyCode false: only exchanges of this command
    uint32_t frame = 0;     // 0 = any; K = only the K-th frame of its kind in the exchange
    FaultTarget on = FaultTarget::Data;
    uint32_t times = 1;     // 0 = every time
    uint32_t fired = 0;     // how often it has fired

    bool Exhausted() const { return times != 0 && fired >= times; }
};

const char* FaultKindName(FaultKind kind);

class FaultPlan {
public:
    // Parses one rule; false (with a message) when it is not understood.
    static bool Parse(const std::string& text, FaultRule* rule, std::string* error);
    // The syntax of a rule, for --help.
    static const char* Syntax();

    bool Add(const std::string& text, std::string* error = nullptr);
    void Add(const FaultRule& rule);
    // Reads a file of rules: one per line; blank lines and lines starting
    // with '#' are skipped.
    bool AddFile(const std::string& path, std::string* error = nullptr);
    void Clear();

    // Finds the first rule of this kind and target that is not used up and
    // matches the exchange's command (codeKnown false: only rules without a
    // code) and the frame number (1-based, 0 = not numbered); counts one use
    // and returns a copy of it.
    bool Take(FaultKind kind, FaultTarget on, bool codeKnown, uint32_t code, uint32_t frame,
              FaultRule* taken);

    // Whether Take would find a rule, without using it.
    bool Peek(FaultKind kind, FaultTarget on, bool codeKnown, uint32_t code, uint32_t frame) const;

    // How often rules of this kind have fired; rules not yet used up.
    uint32_t Fired(FaultKind kind) const;
    size_t Pending() const;
    std::vector<FaultRule> Rules() const;

    // The transport's side of ClosePort and DetachUsb: called with down true
    // when the fault fires and with down false when the port or device is to
    // come back. Called on the device's thread.
    using TransportAction = std::function<void(FaultKind kind, bool down)>;
    void SetTransportAction(TransportAction action);
    TransportAction GetTransportAction() const;

private:
    mutable std::mutex m_lock;
    std::vector<FaultRule> m_rules;
    TransportAction m_transport;
};

}  // namespace sim
