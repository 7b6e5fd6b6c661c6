// A UTF-16 text as the exports take it (VWCHAR is wchar_t on Windows, 16 bits
// wide there and 32 on Linux).
#pragma once

#include <string>

#include "vantro/vantro_types.h"

namespace vtest {

inline std::basic_string<VWCHAR> Wide(const char16_t* text) {
    std::basic_string<VWCHAR> out;
    for (; *text; ++text) out.push_back(static_cast<VWCHAR>(*text));
    return out;
}

}  // namespace vtest
