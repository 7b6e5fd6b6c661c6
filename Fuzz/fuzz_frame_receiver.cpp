// Fuzzes the message layer's frame receiver: CMessage::OnFrameReceived fed
// arbitrary frame sequences in every state, mixed with the other operations
// that move the state on (requests, time-out checks, written frames, fetched
// responses, links opening and closing). The link is one that does nothing.
//
// Input: a sequence of operations, each an opcode byte and its operands:
//   0x00-0x3F  a raw frame: u16 size (mod 600), then that many bytes
//   0x40-0x7F  a well-formed frame: type byte, u16 payload size (mod 512),
//              payload; start byte, length, checksum and end byte are right,
//              so the fuzzer reaches the states behind the frame checks
//   0x80       SendRequest of a request of u16 size (mod 4000) bytes
//   0x81       CheckTimeouts
//   0x82       OnFrameSent
//   0x83       GetResponse (and a read of every byte handed out)
//   0x84       EndExchange
//   0x85       OnLinkOpened
//   0x86       OnLinkClosed
//   0x87       the transmit slot written: GetPendingFrame, then Length = 0
//   0x88       SetLink(null) / SetLink(link), alternately
//   other      nothing
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/Message/Message.h"
#include "Tests/Support/Bytes.h"

namespace {

class NullLink : public CCommIf {
public:
    explicit NullLink(CMessage* message) : CCommIf(message, nullptr) {}
    uint32_t Open(const char*) override { return 0; }
    void Close(uint32_t) override {}
    uint32_t Send() override { return 0; }
    uint32_t ReceiveThread() override { return 0; }
    uint32_t TransmitThread() override { return 0; }
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t U16() {
        const uint16_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    // Up to n bytes (fewer at the end of the input).
    std::vector<uint8_t> Bytes(size_t n) {
        n = n < m_size - m_pos ? n : m_size - m_pos;
        std::vector<uint8_t> out(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    CMessage message;
    NullLink link(&message);
    message.SetLink(&link);
    bool linked = true;
    // Every request's bytes stay valid for the whole run: the caller's
    // buffer outlives its exchange, and a refused SendRequest leaves the
    // request before it in place.
    std::vector<std::vector<uint8_t>> requests;
    volatile uint8_t sink = 0;

    while (in.More()) {
        const uint8_t op = in.U8();
        if (op < 0x40) {
            const std::vector<uint8_t> frame = in.Bytes(in.U16() % 600);
            // An exact heap copy, so that a read past the frame is seen.
            uint8_t* copy = frame.empty() ? nullptr : new uint8_t[frame.size()];
            if (copy) std::memcpy(copy, frame.data(), frame.size());
            message.OnFrameReceived(copy, static_cast<uint32_t>(frame.size()));
            delete[] copy;
        } else if (op < 0x80) {
            const uint8_t type = in.U8();
            const std::vector<uint8_t> frame = vtest::MakeFrame(type, in.Bytes(in.U16() % 512));
            uint8_t* copy = new uint8_t[frame.size()];
            std::memcpy(copy, frame.data(), frame.size());
            message.OnFrameReceived(copy, static_cast<uint32_t>(frame.size()));
            delete[] copy;
        } else {
            switch (op) {
                case 0x80: {
                    const size_t n = in.U16() % 4000;
                    std::vector<uint8_t> request(n);
                    for (size_t i = 0; i < n; ++i) request[i] = static_cast<uint8_t>(i * 7);
                    requests.push_back(std::move(request));
                    const std::vector<uint8_t>& r = requests.back();
                    const uint8_t* previous = nullptr;
                    message.SendRequest(r.empty() ? nullptr : r.data(), static_cast<uint32_t>(r.size()), &previous);
                    break;
                }
                case 0x81:
                    message.CheckTimeouts();
                    break;
                case 0x82:
                    message.OnFrameSent();
                    break;
                case 0x83: {
                    const uint8_t* bytes = nullptr;
                    uint32_t length = 0;
                    if (message.GetResponse(&bytes, &length) == 0 && bytes)
                        for (uint32_t i = 0; i < length; ++i) sink = static_cast<uint8_t>(sink + bytes[i]);
                    break;
                }
                case 0x84:
                    message.EndExchange();
                    break;
                case 0x85:
                    message.OnLinkOpened();
                    break;
                case 0x86:
                    message.OnLinkClosed();
                    break;
                case 0x87: {
                    TxFrame* frame = nullptr;
                    if (message.GetPendingFrame(&frame) == 0 && frame) {
                        frame->Lock.Enter();
                        for (uint32_t i = 0; i < frame->Length && i < kMaxFrame; ++i)
                            sink = static_cast<uint8_t>(sink + frame->Frame[i]);
                        const uint32_t ends = frame->EndsExchange;
                        frame->Length = 0;
                        frame->Lock.Leave();
                        if (ends) message.OnFrameSent();
                    }
                    break;
                }
                case 0x88:
                    linked = !linked;
                    message.SetLink(linked ? &link : nullptr);
                    break;
                default:
                    break;
            }
        }
    }
    (void)sink;
    message.SetLink(nullptr);
    return 0;
}
