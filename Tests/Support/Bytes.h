// Byte strings for tests that build the wire by hand.
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

}  // namespace vtest
