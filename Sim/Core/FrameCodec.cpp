#include "Sim/Core/FrameCodec.h"

namespace sim {

uint8_t FrameChecksum(const uint8_t* frame, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 1; i + 2 < size; ++i) sum += frame[i];
    return static_cast<uint8_t>(sum);
}

std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* payload, size_t size) {
    std::vector<uint8_t> frame;
    frame.reserve(size + 6);
    frame.push_back(kFrameStx);
    frame.push_back(type);
    frame.push_back(static_cast<uint8_t>(size));
    frame.push_back(static_cast<uint8_t>(size >> 8));
    if (size) frame.insert(frame.end(), payload, payload + size);
    frame.push_back(0);
    frame.push_back(kFrameEtx);
    frame[frame.size() - 2] = FrameChecksum(frame.data(), frame.size());
    return frame;
}

std::vector<uint8_t> BuildAck(uint8_t state) {
    const uint8_t payload[2] = {kReplyAck, state};
    return BuildFrame(kTypeReply, payload, sizeof payload);
}

std::vector<uint8_t> BuildNak(uint32_t code) {
    const uint8_t payload[5] = {kReplyNak, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
                                static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24)};
    return BuildFrame(kTypeReply, payload, sizeof payload);
}

std::vector<uint8_t> BuildPollAnswer(uint8_t state) {
    const uint8_t payload[2] = {kReplyAck, state};
    return BuildFrame(kTypePoll, payload, sizeof payload);
}

std::vector<std::vector<uint8_t>> CutMessage(const std::vector<uint8_t>& message) {
    std::vector<std::vector<uint8_t>> frames;
    const size_t n = message.size();
    if (n <= kFramePayloadMax) {
        frames.push_back(BuildFrame(kTypeSingle, message.data(), n));
        return frames;
    }
    frames.push_back(BuildFrame(kTypeFirst, message.data(), kFramePayloadMax));
    size_t offset = kFramePayloadMax;
    for (size_t k = 2; offset < n; ++k) {
        const size_t rest = n - offset;
        if (rest <= kFramePayloadMax) {
            frames.push_back(BuildFrame(kTypeLast, message.data() + offset, rest));
            offset = n;
        } else {
            frames.push_back(BuildFrame(MiddleType(k), message.data() + offset, kFramePayloadMax));
            offset += kFramePayloadMax;
        }
    }
    return frames;
}

void FrameParser::Feed(const uint8_t* data, size_t size) {
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), data, data + size);
}

void FrameParser::Skip(size_t n) {
    m_start += n;
    m_discarded += n;
    if (m_start >= m_buffer.size()) Reset();
}

void FrameParser::Reset() {
    m_buffer.clear();
    m_start = 0;
}

void FrameParser::DropPartial() {
    if (HasPartial()) Skip(1);
}

bool FrameParser::Next(RxFrame* frame) {
    for (;;) {
        // Look for a start byte.
        size_t skip = 0;
        while (m_start + skip < m_buffer.size() && m_buffer[m_start + skip] != kFrameStx) ++skip;
        if (skip) Skip(skip);
        const size_t avail = m_buffer.size() - m_start;
        if (avail < 4) return false;
        const uint8_t* p = m_buffer.data() + m_start;
        const size_t length = p[2] | (static_cast<size_t>(p[3]) << 8);
        if (length > kFramePayloadMax) {
            Skip(1);  // not a frame start
            continue;
        }
        const size_t total = length + 6;
        if (avail < total) return false;
        if (p[total - 1] != kFrameEtx) {
            Skip(1);  // misframed: look for the next start byte
            continue;
        }
        frame->type = p[1];
        frame->payload.assign(p + 4, p + 4 + length);
        frame->checksumOk = FrameChecksum(p, total) == p[total - 2];
        frame->raw.assign(p, p + total);
        m_start += total;
        if (m_start >= m_buffer.size()) Reset();
        return true;
    }
}

}  // namespace sim
