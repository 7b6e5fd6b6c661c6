#include "Tools/Text.h"

#include <chrono>
#include <cstdio>

namespace cli {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes UTF-16 units [0, n) into UTF-8, stopping at a zero unit.
template <class Unit>
std::string DecodeUtf16(Unit unitAt, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t u = unitAt(i);
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
            uint32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

WString ToWide(const std::string& utf8) {
    WString out;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        const unsigned char c = s[i];
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= n;
            uint32_t v = c & (0xFF >> (len + 1));
            for (size_t k = 1; ok && k < len; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) ok = false;
                v = (v << 6) | (s[i + k] & 0x3F);
            }
            const uint32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
            if (ok && v >= minimum && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000)) {
                cp = v;
            } else {
                len = 1;
            }
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<VWCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<VWCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<VWCHAR>(cp));
        }
    }
    return out;
}

std::string ToUtf8(const VWCHAR* text, size_t units) {
    if (!text) return std::string();
    return DecodeUtf16([text](size_t i) { return static_cast<uint32_t>(static_cast<uint16_t>(text[i])); }, units);
}

std::string ToUtf8(const WString& text) { return ToUtf8(text.c_str(), text.size()); }

std::string Utf16BytesToUtf8(const uint8_t* bytes, size_t size) {
    if (!bytes) return std::string();
    return DecodeUtf16([bytes](size_t i) { return static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); },
                       size / 2);
}

std::string DevicePath(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '/') c = '\\';
    if (out.empty() || out[0] != '\\') out.insert(out.begin(), '\\');
    return out;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string HexBytes(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i) out.push_back(' ');
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
    }
    return out;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
    out->clear();
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == '.') {
            if (high >= 0) return false;  // a byte cut in two
            continue;
        }
        const int d = HexDigit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            out->push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    return high < 0;
}

bool ParseUint(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty()) return false;
    uint64_t value = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const uint64_t base = hex ? 16 : 10;
    for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || static_cast<uint64_t>(d) >= base) return false;
        if (value > (max - static_cast<uint64_t>(d)) / base) return false;
        value = value * base + static_cast<uint64_t>(d);
    }
    *out = value;
    return true;
}

bool ParseUint32(const std::string& text, uint32_t* out) {
    uint64_t v = 0;
    if (!ParseUint(text, 0xFFFFFFFFu, &v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string HumanBytes(uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double v = static_cast<double>(bytes);
    int unit = 0;
    while (v >= 1024.0 && unit < 4) {
        v /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f %s", v, kUnits[unit]);
    return text;
}

std::string HumanDuration(double seconds) {
    if (seconds < 0 || seconds != seconds) seconds = 0;
    uint64_t s = static_cast<uint64_t>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(s / 3600),
                      static_cast<unsigned>(s / 60 % 60), static_cast<unsigned>(s % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(s / 60), static_cast<unsigned>(s % 60));
    return text;
}

int64_t DaysFromCivil(int year, int month, int day) {
    // Howard Hinnant's days_from_civil.
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    *year = static_cast<int>(y + (m <= 2));
    *month = static_cast<int>(m);
    *day = static_cast<int>(d);
}

int WeekDay(int64_t days) {
    int64_t w = (days + 4) % 7;  // 1970-01-01 was a Thursday
    if (w < 0) w += 7;
    return static_cast<int>(w);
}

std::string FileTimeText(uint32_t low, uint32_t high) {
    const uint64_t ticks = (static_cast<uint64_t>(high) << 32) | low;
    if (ticks == 0) return std::string();
    // Seconds since 1601-01-01; 1601-01-01 is day -134774 from 1970.
    const int64_t seconds = static_cast<int64_t>(ticks / 10000000ULL);
    const int64_t days = seconds / 86400 - 134774;
    const int64_t rest = seconds % 86400;
    CivilTime t;
    CivilFromDays(days, &t.year, &t.month, &t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return CivilTimeText(t, false);
}

bool ParseCivilTime(const std::string& text, CivilTime* out) {
    CivilTime t;
    int consumed = 0;
    char sep = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &t.year, &t.month, &t.day, &sep, &t.hour,
                    &t.minute, &t.second, &consumed) != 7)
        return false;
    if (sep != ' ' && sep != 'T') return false;
    size_t pos = static_cast<size_t>(consumed);
    if (pos < text.size() && text[pos] == '.') {
        int ms = 0, n = 0;
        if (std::sscanf(text.c_str() + pos + 1, "%3d%n", &ms, &n) != 1 || n != 3) return false;
        t.millisecond = ms;
        pos += 4;
    }
    if (pos < text.size() && text[pos] == 'Z') ++pos;
    if (pos != text.size()) return false;
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 ||
        t.minute > 59 || t.second > 59 || t.hour < 0 || t.minute < 0 || t.second < 0)
        return false;
    int y = 0, m = 0, d = 0;
    CivilFromDays(DaysFromCivil(t.year, t.month, t.day), &y, &m, &d);
    if (m != t.month || d != t.day) return false;  // 31 February and the like
    *out = t;
    return true;
}

std::string CivilTimeText(const CivilTime& t, bool withMilliseconds) {
    char text[48];
    if (withMilliseconds)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, t.millisecond);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
    return text;
}

CivilTime NowUtc() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    CivilTime t;
    CivilFromDays(days, &t.year, &t.month, &t.day);
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}

}  // namespace cli
