#include "Bench/Floor/FloorFrames.h"

#include <cstring>

namespace floorc {

Out& Out::u8(uint8_t v) {
    m_bytes.push_back(v);
    return *this;
}

Out& Out::u16(uint16_t v) {
    m_bytes.push_back(static_cast<uint8_t>(v));
    m_bytes.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
}

Out& Out::u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

Out& Out::raw(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
    return *this;
}

Out& Out::buffer(const void* data, size_t size) {
    u32(static_cast<uint32_t>(size));
    return raw(data, size);
}

Out& Out::wstring(const std::u16string& text) {
    u32(WireLength(text));
    for (char16_t c : text) u16(static_cast<uint16_t>(c));
    return u16(0);
}

Out& Out::code(uint32_t value) {
    // 0x7F in the low seven bits of the first byte, or 0xFF in a later one,
    // asks for one more byte.
    u8(static_cast<uint8_t>(value));
    if ((value & 0x7F) != 0x7F) return *this;
    for (int shift = 8; shift <= 24; shift += 8) {
        const uint8_t b = static_cast<uint8_t>(value >> shift);
        u8(b);
        if (b != 0xFF) break;
    }
    return *this;
}

bool In::need(size_t n) {
    if (!m_ok || left() < n) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t In::u8() { return need(1) ? *m_p++ : 0; }

uint16_t In::u16() {
    if (!need(2)) return 0;
    const uint16_t v = static_cast<uint16_t>(m_p[0] | (m_p[1] << 8));
    m_p += 2;
    return v;
}

uint32_t In::u32() {
    if (!need(4)) return 0;
    const uint32_t v = static_cast<uint32_t>(m_p[0]) | (static_cast<uint32_t>(m_p[1]) << 8) |
                       (static_cast<uint32_t>(m_p[2]) << 16) | (static_cast<uint32_t>(m_p[3]) << 24);
    m_p += 4;
    return v;
}

const uint8_t* In::buffer(uint32_t* size) {
    *size = u32();
    if (!need(*size)) {
        *size = 0;
        return nullptr;
    }
    const uint8_t* p = m_p;
    m_p += *size;
    return p;
}

uint32_t In::code() {
    uint32_t value = u8();
    if ((value & 0x7F) != 0x7F) return value;
    for (int shift = 8; shift <= 24 && m_ok; shift += 8) {
        const uint8_t b = u8();
        value |= static_cast<uint32_t>(b) << shift;
        if (b != 0xFF) break;
    }
    return value;
}

uint8_t Checksum(const uint8_t* p, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += p[i];
    return static_cast<uint8_t>(sum);
}

void AppendFrame(Bytes& out, uint8_t type, const uint8_t* payload, size_t size) {
    const size_t at = out.size();
    out.resize(at + size + 6);
    uint8_t* f = out.data() + at;
    f[0] = 0x02;
    f[1] = type;
    f[2] = static_cast<uint8_t>(size);
    f[3] = static_cast<uint8_t>(size >> 8);
    if (size) std::memcpy(f + 4, payload, size);
    f[4 + size] = Checksum(f + 1, size + 3);
    f[5 + size] = 0x03;
}

Bytes Frame(uint8_t type, const uint8_t* payload, size_t size) {
    Bytes out;
    AppendFrame(out, type, payload, size);
    return out;
}

Bytes Ack(uint8_t state) {
    const uint8_t payload[2] = {0x06, state};
    return Frame(kReply, payload, 2);
}

std::vector<Bytes> Cut(const Bytes& message) {
    std::vector<Bytes> frames;
    if (message.size() <= kMaxPayload) {
        frames.push_back(Frame(kSingle, message.data(), message.size()));
        return frames;
    }
    frames.push_back(Frame(kFirst, message.data(), kMaxPayload));
    size_t offset = kMaxPayload;
    for (size_t k = 2; offset < message.size(); ++k) {
        const size_t left = message.size() - offset;
        if (left <= kMaxPayload) {
            frames.push_back(Frame(kLast, message.data() + offset, left));
            break;
        }
        frames.push_back(Frame(static_cast<uint8_t>(kMiddle + (k - 2) % 128), message.data() + offset, kMaxPayload));
        offset += kMaxPayload;
    }
    return frames;
}

bool Parse(const uint8_t* f, size_t size, RxFrame* out) {
    out->good = false;
    if (size < 6) return false;
    const size_t length = f[2] | (f[3] << 8);
    if (length + 6 != size) return false;
    out->type = f[1];
    out->payload.assign(f + 4, f + 4 + length);
    out->good = f[0] == 0x02 && f[size - 1] == 0x03 && Checksum(f + 1, length + 3) == f[size - 2];
    return out->good;
}

}  // namespace floorc
