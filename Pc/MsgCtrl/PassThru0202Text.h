// Texts of the stdcall pass-thru family and its OEM extensions: caller
// buffers of VANTRO_PASSTHRU0202_TEXT_UNITS units.
#pragma once

#include <cstdint>
#include <cstring>

#include "Tessra/CmdCore.h"
#include "vantro/vantro_passthru0202.h"

// Copies a received text into a caller buffer of 80 units: the bytes as they
// came (their length taken modulo 65536), or, when they do not fit, 79 units
// and a terminator. False when the text had to be cut.
inline bool CopyPassThruText(VWCHAR* out, const CCmdString& text) {
    const uint32_t capacity = VANTRO_PASSTHRU0202_TEXT_UNITS * sizeof(VWCHAR);
    uint32_t length = text.GetLength() & 0xFFFFu;
    if (!out || length == 0) return true;
    if (length <= capacity) {
        std::memcpy(out, text.GetBytes(), length);
        return true;
    }
    std::memcpy(out, text.GetBytes(), capacity - sizeof(VWCHAR));
    out[VANTRO_PASSTHRU0202_TEXT_UNITS - 1] = 0;
    return false;
}
