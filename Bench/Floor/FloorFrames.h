// The floor client's own wire code: byte strings, the command code, frames
// and the cutting of a message into frames. It shares nothing with the
// library or the simulator, so that a fault in their encoders cannot hide in
// both sides of a comparison.
//
// Frame: 02, type, u16 length (little-endian, 0..511), payload, checksum (sum
// of type, length and payload bytes modulo 256), 03.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace floorc {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxPayload = 511;
constexpr size_t kMaxFrame = kMaxPayload + 6;

enum : uint8_t {
    kSingle = 0x00,
    kFirst = 0x01,
    kLast = 0x02,
    kReply = 0x03,
    kPoll = 0x7F,
    kMiddle = 0x80,
};

// The PC acknowledges response frames in its Receiving state (3).
constexpr uint8_t kPcAckState = 3;

// Little-endian request builder.
class Out {
public:
    Out& u8(uint8_t v);
    Out& u16(uint16_t v);
    Out& u32(uint32_t v);
    Out& raw(const void* data, size_t size);
    // u32 byte length then the bytes (a record library buffer member).
    Out& buffer(const void* data, size_t size);
    // u32 byte length then UTF-16LE units with their terminator.
    Out& wstring(const std::u16string& text);
    // The command code, 1 to 4 bytes.
    Out& code(uint32_t value);
    const Bytes& bytes() const { return m_bytes; }
    Bytes take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

// Little-endian response reader; after a short read every read gives 0 and
// ok() is false.
class In {
public:
    In(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}
    explicit In(const Bytes& b) : In(b.data(), b.size()) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    // A buffer member: u32 length, then the bytes (pointer into the data).
    const uint8_t* buffer(uint32_t* size);
    uint32_t code();
    bool ok() const { return m_ok; }
    size_t left() const { return static_cast<size_t>(m_end - m_p); }

private:
    bool need(size_t n);
    const uint8_t* m_p;
    const uint8_t* m_end;
    bool m_ok = true;
};

// Byte length of a text with its terminator, as the wstring member carries it.
inline uint32_t WireLength(const std::u16string& text) { return static_cast<uint32_t>(2 * (text.size() + 1)); }

uint8_t Checksum(const uint8_t* typeToPayloadEnd, size_t size);
// Appends one frame to `out`.
void AppendFrame(Bytes& out, uint8_t type, const uint8_t* payload, size_t size);
Bytes Frame(uint8_t type, const uint8_t* payload, size_t size);
Bytes Ack(uint8_t state = kPcAckState);
// The frames of a message, in order.
std::vector<Bytes> Cut(const Bytes& message);

// A frame as read: type and payload, and whether checksum and delimiters held.
struct RxFrame {
    uint8_t type = 0;
    Bytes payload;
    bool good = false;
};
// Checks a whole frame (header included).
bool Parse(const uint8_t* frame, size_t size, RxFrame* out);

}  // namespace floorc
