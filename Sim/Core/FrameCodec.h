// The device's side of the frame format: building the frames it sends
// (Replies, Poll answers, response fragments) and cutting the PC's byte
// stream into frames, with resynchronisation after noise.
//
// Frame: 02, type, u16 length (little-endian, 0..511), payload, checksum (sum
// of type, length bytes and payload, modulo 256), 03.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr uint8_t kFrameStx = 0x02;
constexpr uint8_t kFrameEtx = 0x03;
constexpr size_t kFramePayloadMax = 511;
constexpr size_t kFrameMax = kFramePayloadMax + 6;  // 517

constexpr uint8_t kTypeSingle = 0x00;
constexpr uint8_t kTypeFirst = 0x01;
constexpr uint8_t kTypeLast = 0x02;
constexpr uint8_t kTypeReply = 0x03;
constexpr uint8_t kTypePoll = 0x7F;
constexpr uint8_t kTypeMiddleBase = 0x80;

constexpr uint8_t kReplyAck = 0x06;
constexpr uint8_t kReplyNak = 0x15;

// The device's own NAK codes for request frames it cannot take.
constexpr uint32_t kNakBadChecksum = 0x0000E011;  // checksum of a request frame wrong
constexpr uint32_t kNakBadSequence = 0x0000E012;  // Middle or Last out of order
constexpr uint32_t kNakUnexpected = 0x0000E013;   // Middle or Last without a First
constexpr uint32_t kNakTooLong = 0x0000E014;      // request beyond the device's buffer

inline bool IsMiddleType(uint8_t type) { return type >= kTypeMiddleBase; }
inline bool IsDataType(uint8_t type) {
    return type == kTypeSingle || type == kTypeFirst || type == kTypeLast || IsMiddleType(type);
}
// Fragment k (k >= 2) of a long message, when it is a Middle frame.
inline uint8_t MiddleType(size_t k) { return static_cast<uint8_t>(kTypeMiddleBase + ((k - 2) % 128)); }

// Sum of the bytes from offset 1 to size - 3, modulo 256.
uint8_t FrameChecksum(const uint8_t* frame, size_t size);

std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* payload, size_t size);
std::vector<uint8_t> BuildAck(uint8_t state);
std::vector<uint8_t> BuildNak(uint32_t code);
std::vector<uint8_t> BuildPollAnswer(uint8_t state);

// Cuts a message into Single, or First, Middle (0x80.. wrapping) and Last
// frames of at most 511 payload bytes. An empty message is one empty Single.
std::vector<std::vector<uint8_t>> CutMessage(const std::vector<uint8_t>& message);

// A frame taken from the PC's stream. Start and end bytes and the length are
// right (the parser resynchronises otherwise); the checksum may be wrong.
struct RxFrame {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    bool checksumOk = false;
    std::vector<uint8_t> raw;
};

class FrameParser {
public:
    // Appends bytes of the PC's stream.
    void Feed(const uint8_t* data, size_t size);
    // Takes the next whole frame; false when none is complete yet.
    bool Next(RxFrame* frame);
    // True while bytes of an incomplete frame are waiting.
    bool HasPartial() const { return m_buffer.size() > m_start; }
    // Drops the start of a frame whose rest did not come: the parser skips
    // its start byte and looks for the next one.
    void DropPartial();
    // Bytes dropped so far while looking for frames.
    size_t Discarded() const { return m_discarded; }
    void Reset();

private:
    void Skip(size_t n);

    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
    size_t m_discarded = 0;
};

}  // namespace sim
