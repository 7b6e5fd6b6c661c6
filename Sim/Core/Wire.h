// The simulator's own byte cursor for decoding requests and encoding
// responses. It shares no code with the library's record classes, so that a
// mistake made on one side cannot hide behind the same mistake on the other.
//
// Field forms (little-endian): u8, u16, u32, u64; wstr = u32 byte length then
// UTF-16 bytes (the length counts a terminating zero when the text has one);
// buf = u32 byte length then bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sim {

class WireIn {
public:
    WireIn() = default;
    WireIn(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    size_t remaining() const { return m_ok ? m_size - m_pos : 0; }
    size_t position() const { return m_pos; }

    uint8_t u8() { return static_cast<uint8_t>(take(1)); }
    uint16_t u16() { return static_cast<uint16_t>(take(2)); }
    uint32_t u32() { return static_cast<uint32_t>(take(4)); }
    uint64_t u64() { return take(8); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> out;
        if (!need(n)) return out;
        out.assign(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }
    std::vector<uint8_t> buf() { return bytes(u32()); }
    // The UTF-16 units of a wstring, without a trailing terminator.
    std::u16string wstr() {
        std::vector<uint8_t> raw = bytes(u32());
        std::u16string text;
        for (size_t i = 0; i + 1 < raw.size(); i += 2)
            text.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
        while (!text.empty() && text.back() == 0) text.pop_back();
        return text;
    }

private:
    bool need(size_t n) {
        if (!m_ok || m_size - m_pos < n) {
            m_ok = false;
            return false;
        }
        return true;
    }
    uint64_t take(size_t n) {
        if (!need(n)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(m_data[m_pos + i]) << (8 * i);
        m_pos += n;
        return v;
    }

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    bool m_ok = true;
};

class WireOut {
public:
    WireOut& u8(uint8_t v) { return put(v, 1); }
    WireOut& u16(uint16_t v) { return put(v, 2); }
    WireOut& u32(uint32_t v) { return put(v, 4); }
    WireOut& u64(uint64_t v) { return put(v, 8); }
    WireOut& i32(int32_t v) { return put(static_cast<uint32_t>(v), 4); }
    WireOut& bytes(const void* data, size_t n) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        m_out.insert(m_out.end(), p, p + n);
        return *this;
    }
    WireOut& bytes(const std::vector<uint8_t>& v) { return bytes(v.data(), v.size()); }
    WireOut& buf(const std::vector<uint8_t>& v) {
        u32(static_cast<uint32_t>(v.size()));
        return bytes(v);
    }
    // A wstring with its terminator (an empty text is sent with length 0).
    WireOut& wstr(const std::u16string& text) {
        if (text.empty()) return u32(0);
        u32(static_cast<uint32_t>((text.size() + 1) * 2));
        for (char16_t c : text) u16(static_cast<uint16_t>(c));
        return u16(0);
    }
    const std::vector<uint8_t>& data() const { return m_out; }
    std::vector<uint8_t>& data() { return m_out; }
    size_t size() const { return m_out.size(); }

private:
    WireOut& put(uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> m_out;
};

// UTF-8 <-> UTF-16 for file names and texts.
std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);

// The command-code encoding: 1 to 4 bytes.
std::vector<uint8_t> EncodeCode(uint32_t code);
// Decodes a code at the start of data; returns the number of bytes used, 0
// when data is too short.
size_t DecodeCode(const uint8_t* data, size_t size, uint32_t* code);

}  // namespace sim
