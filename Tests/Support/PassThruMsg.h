// Building and reading PASSTHRU_MSG records in tests and benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "vantro/j2534.h"

namespace vtest {

// A message of the protocol with these data bytes; everything else zero.
inline PASSTHRU_MSG Msg(uint32_t protocol, std::initializer_list<uint8_t> data, uint32_t txFlags = 0) {
    PASSTHRU_MSG m;
    std::memset(&m, 0, sizeof m);
    m.ProtocolID = protocol;
    m.TxFlags = txFlags;
    for (uint8_t b : data) m.Data[m.DataSize++] = b;
    return m;
}

inline std::vector<uint8_t> DataOf(const PASSTHRU_MSG& m) {
    return std::vector<uint8_t>(m.Data, m.Data + m.DataSize);
}

}  // namespace vtest
