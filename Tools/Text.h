// Text helpers of the vantro tool: UTF-8 <-> UTF-16 (the library's VWCHAR
// texts), hex bytes, sizes, numbers and Win32 times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vantro/vantro_types.h"

namespace cli {

using WString = std::basic_string<VWCHAR>;

// UTF-8 to UTF-16; invalid bytes become U+FFFD.
WString ToWide(const std::string& utf8);
// UTF-16 to UTF-8, up to the first zero unit or `units` units.
std::string ToUtf8(const VWCHAR* text, size_t units);
std::string ToUtf8(const WString& text);
// UTF-16LE bytes as the device sends them (up to the first zero unit).
std::string Utf16BytesToUtf8(const uint8_t* bytes, size_t size);

// A device path as the device wants it: '/' turned into '\', a leading '\'
// added ("Data/a.bin" -> "\Data\a.bin").
std::string DevicePath(const std::string& path);
// The last component of a device or PC path.
std::string BaseName(const std::string& path);

// "41 0C 1A F8" (upper case, separated by spaces).
std::string HexBytes(const uint8_t* data, size_t size);
// Parses hex bytes with or without separators (" ", ":", "-", "."); false on
// anything else or an odd number of digits.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out);
// Decimal or 0x-prefixed hex, the whole text; false otherwise.
bool ParseUint(const std::string& text, uint64_t max, uint64_t* out);
bool ParseUint32(const std::string& text, uint32_t* out);
// "0x900D0017" style, eight hex digits.
std::string Hex32(uint32_t value);

// "1.5 KiB", "300 B".
std::string HumanBytes(uint64_t bytes);
// "0:03", "1:02:03".
std::string HumanDuration(double seconds);

// A Win32 FILETIME (100 ns since 1601-01-01 UTC) as "YYYY-MM-DD HH:MM:SS";
// "" for 0.
std::string FileTimeText(uint32_t low, uint32_t high);

// Calendar arithmetic for the clock commands.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};
// Days since 1970-01-01 of a date, and back; weekday 0 = Sunday.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int* year, int* month, int* day);
int WeekDay(int64_t days);
// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS" (optionally ".mmm"); false
// when the text or a field is not valid.
bool ParseCivilTime(const std::string& text, CivilTime* out);
std::string CivilTimeText(const CivilTime& t, bool withMilliseconds);
// The PC's current UTC time.
CivilTime NowUtc();

}  // namespace cli
