// Text conversion and the command-code encoding of the simulator's wire code.
#include "Sim/Core/Wire.h"

namespace sim {

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        uint32_t c = 0xFFFD;
        size_t extra = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            extra = 0;  // a stray continuation byte
        }
        bool valid = b < 0x80 || extra > 0;
        if (valid && i + extra >= text.size()) valid = false;  // cut short
        for (size_t k = 1; valid && k <= extra; ++k) {
            const uint8_t cb = static_cast<uint8_t>(text[i + k]);
            if ((cb & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!valid) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else if (c > 0x10FFFF) {
            out.push_back(0xFFFD);
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::vector<uint8_t> EncodeCode(uint32_t code) {
    std::vector<uint8_t> out;
    const uint8_t b1 = static_cast<uint8_t>(code);
    out.push_back(b1);
    if ((b1 & 0x7F) != 0x7F) return out;
    const uint8_t b2 = static_cast<uint8_t>(code >> 8);
    out.push_back(b2);
    if (b2 != 0xFF) return out;
    const uint8_t b3 = static_cast<uint8_t>(code >> 16);
    out.push_back(b3);
    if (b3 != 0xFF) return out;
    out.push_back(static_cast<uint8_t>(code >> 24));
    return out;
}

size_t DecodeCode(const uint8_t* data, size_t size, uint32_t* code) {
    if (!data || size < 1) return 0;
    uint32_t value = data[0];
    size_t used = 1;
    if ((data[0] & 0x7F) == 0x7F) {
        if (size < 2) return 0;
        value |= static_cast<uint32_t>(data[1]) << 8;
        used = 2;
        if (data[1] == 0xFF) {
            if (size < 3) return 0;
            value |= static_cast<uint32_t>(data[2]) << 16;
            used = 3;
            if (data[2] == 0xFF) {
                if (size < 4) return 0;
                value |= static_cast<uint32_t>(data[3]) << 24;
                used = 4;
            }
        }
    }
    if (code) *code = value;
    return used;
}

}  // namespace sim
