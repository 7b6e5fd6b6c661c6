// Command records of the device clock commands.
//
// These records do not copy the caller's SYSTEMTIME or TIME_ZONE_INFORMATION:
// they hold a pointer to it, and Read or Write moves its fields directly
// between the stream and the caller's memory. A record whose pointer is null
// transfers nothing at all and sets the stream's error to 0x900d0028 (without
// a report: the exported functions check their pointers before).
//
// Wire forms: SYSTEMTIME is eight u16 in the Win32 order; TIME_ZONE_INFORMATION
// is i32 Bias, 64 raw bytes StandardName, SYSTEMTIME StandardDate,
// i32 StandardBias, 64 raw bytes DaylightName, SYSTEMTIME DaylightDate,
// i32 DaylightBias: 172 bytes.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"
#include "vantro/vantro_types.h"

static_assert(sizeof(VSYSTEMTIME) == 16, "SYSTEMTIME is eight u16");
static_assert(sizeof(VTIME_ZONE_INFORMATION) == 172, "TIME_ZONE_INFORMATION is 172 bytes");
static_assert(sizeof(VTIME_ZONE_INFORMATION::StandardName) == 64, "a zone name is 64 bytes");

namespace tessra_clock {

template <class S>
void XferSystemTime(S& s, VSYSTEMTIME& t) {
    Xfer(s, t.wYear);
    Xfer(s, t.wMonth);
    Xfer(s, t.wDayOfWeek);
    Xfer(s, t.wDay);
    Xfer(s, t.wHour);
    Xfer(s, t.wMinute);
    Xfer(s, t.wSecond);
    Xfer(s, t.wMilliseconds);
}

// The zone names travel as their 64 raw bytes, whatever they hold.
inline uint8_t (&NameBytes(VWCHAR (&name)[32]))[64] {
    return reinterpret_cast<uint8_t(&)[64]>(name);
}

template <class S>
void XferTimeZone(S& s, VTIME_ZONE_INFORMATION& tz) {
    Xfer(s, tz.Bias);
    Xfer(s, NameBytes(tz.StandardName));
    XferSystemTime(s, tz.StandardDate);
    Xfer(s, tz.StandardBias);
    Xfer(s, NameBytes(tz.DaylightName));
    XferSystemTime(s, tz.DaylightDate);
    Xfer(s, tz.DaylightBias);
}

// Refuses a transfer through a null pointer.
template <class S, class T>
bool PointerUsable(S& s, T* pointer) {
    if (pointer) return true;
    s.SetLastError(kTessraInvalidParameter);
    return false;
}

}  // namespace tessra_clock

// ---- system time and local time ------------------------------------------------

class GetSystemTimeRequest : public CCmdBase {
public:
    GetSystemTimeRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

// Result, then the caller's SYSTEMTIME read in place.
class GetSystemTimeResponse : public CCmdBase {
public:
    GetSystemTimeResponse() : CCmdBase(0), SystemTime(nullptr) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        if (!tessra_clock::PointerUsable(s, SystemTime)) return;
        Xfer(s, Result);
        tessra_clock::XferSystemTime(s, *SystemTime);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    VSYSTEMTIME* SystemTime;  // the caller's structure
};

// The caller's SYSTEMTIME, written from its place.
class SetSystemTimeRequest : public CCmdBase {
public:
    SetSystemTimeRequest() : CCmdBase(0), SystemTime(nullptr) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S& s) {
        if (!tessra_clock::PointerUsable(s, SystemTime)) return;
        tessra_clock::XferSystemTime(s, *SystemTime);
    }
    TESSRA_FIELD_IO

    // The caller's structure; writing the request only reads it.
    VSYSTEMTIME* SystemTime;
};

class SetSystemTimeResponse : public CCmdBase {
public:
    SetSystemTimeResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        ReturnValue = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, ReturnValue);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t ReturnValue;
};

class GetLocalTimeRequest : public CCmdBase {
public:
    GetLocalTimeRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

class GetLocalTimeResponse : public CCmdBase {
public:
    GetLocalTimeResponse() : CCmdBase(0), SystemTime(nullptr) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        if (!tessra_clock::PointerUsable(s, SystemTime)) return;
        Xfer(s, Result);
        tessra_clock::XferSystemTime(s, *SystemTime);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    VSYSTEMTIME* SystemTime;
};

class SetLocalTimeRequest : public CCmdBase {
public:
    SetLocalTimeRequest() : CCmdBase(0), SystemTime(nullptr) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S& s) {
        if (!tessra_clock::PointerUsable(s, SystemTime)) return;
        tessra_clock::XferSystemTime(s, *SystemTime);
    }
    TESSRA_FIELD_IO

    VSYSTEMTIME* SystemTime;
};

class SetLocalTimeResponse : public CCmdBase {
public:
    SetLocalTimeResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        ReturnValue = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, ReturnValue);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t ReturnValue;
};

// ---- time zone ------------------------------------------------------------------------

class GetTimeZoneInformationRequest : public CCmdBase {
public:
    GetTimeZoneInformationRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

// Result, ReturnValue, then the caller's TIME_ZONE_INFORMATION read in place:
// 180 bytes in all.
class GetTimeZoneInformationResponse : public CCmdBase {
public:
    GetTimeZoneInformationResponse() : CCmdBase(0), TimeZone(nullptr) { Clear(); }
    void Clear() override {
        Result = 0;
        ReturnValue = 0;
    }
    template <class S>
    void Fields(S& s) {
        if (!tessra_clock::PointerUsable(s, TimeZone)) return;
        Xfer(s, Result);
        Xfer(s, ReturnValue);
        tessra_clock::XferTimeZone(s, *TimeZone);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t ReturnValue;
    VTIME_ZONE_INFORMATION* TimeZone;
};

class SetTimeZoneInformationRequest : public CCmdBase {
public:
    SetTimeZoneInformationRequest() : CCmdBase(0), TimeZone(nullptr) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S& s) {
        if (!tessra_clock::PointerUsable(s, TimeZone)) return;
        tessra_clock::XferTimeZone(s, *TimeZone);
    }
    TESSRA_FIELD_IO

    VTIME_ZONE_INFORMATION* TimeZone;
};

class SetTimeZoneInformationResponse : public CCmdBase {
public:
    SetTimeZoneInformationResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        ReturnValue = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, ReturnValue);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t ReturnValue;
};
