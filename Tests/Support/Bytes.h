// Byte strings and frames for tests that build the wire by hand.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vtest {

using Bytes = std::vector<uint8_t>;

// A little-endian u32.
inline Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// The parts one after the other.
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A frame as it goes over the link: 02, type, u16 payload length, payload,
// the 8-bit sum of type, length and payload, 03. Built here with the tests'
// own code, never with the message layer's.
inline Bytes MakeFrame(uint8_t type, const Bytes& payload) {
    Bytes f = {0x02, type, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    uint8_t sum = 0;
    for (size_t i = 1; i < f.size(); ++i) sum = static_cast<uint8_t>(sum + f[i]);
    f.push_back(sum);
    f.push_back(0x03);
    return f;
}

}  // namespace vtest
