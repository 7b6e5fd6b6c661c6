// The simulated device's clock (commands 0x04 to 0x09).
//
// The device's UTC time is the host's clock plus an offset that the set
// commands change. Local time follows the time zone with the Win32 rules:
// UTC = local + Bias (+ StandardBias or DaylightBias), daylight time between
// the DaylightDate and StandardDate transitions of each year (day-of-week
// form when wYear is 0, a fixed date otherwise); a zone whose transition
// months are 0 has no daylight time. A fresh device runs on UTC.
//
// Answers: the get commands send Result 0 and the time; the set commands send
// Result 0 with ReturnValue 1, or Result 87 (ERROR_INVALID_PARAMETER) with
// ReturnValue 0 for a date that does not exist. GetTimeZoneInformation's
// ReturnValue is the zone id: 0 unknown (no daylight time), 1 standard,
// 2 daylight.
#include <chrono>
#include <cstring>

#include "Sim/Core/Services.h"

namespace sim {
namespace {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidParameter = 87;

constexpr uint32_t kZoneIdUnknown = 0;
constexpr uint32_t kZoneIdStandard = 1;
constexpr uint32_t kZoneIdDaylight = 2;

constexpr int64_t kMsPerMinute = 60 * 1000;
constexpr int64_t kMsPerDay = 24 * 60 * kMsPerMinute;

struct SysTime {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
};

struct TimeZone {
    int32_t bias = 0;
    uint8_t standardName[64] = {};
    SysTime standardDate;
    int32_t standardBias = 0;
    uint8_t daylightName[64] = {};
    SysTime daylightDate;
    int32_t daylightBias = 0;
};

SysTime ReadSysTime(WireIn& in) {
    SysTime t;
    t.year = in.u16();
    t.month = in.u16();
    t.dayOfWeek = in.u16();
    t.day = in.u16();
    t.hour = in.u16();
    t.minute = in.u16();
    t.second = in.u16();
    t.ms = in.u16();
    return t;
}

void WriteSysTime(WireOut& out, const SysTime& t) {
    out.u16(t.year).u16(t.month).u16(t.dayOfWeek).u16(t.day);
    out.u16(t.hour).u16(t.minute).u16(t.second).u16(t.ms);
}

TimeZone ReadTimeZone(WireIn& in) {
    TimeZone tz;
    tz.bias = in.i32();
    std::vector<uint8_t> name = in.bytes(64);
    if (name.size() == 64) std::memcpy(tz.standardName, name.data(), 64);
    tz.standardDate = ReadSysTime(in);
    tz.standardBias = in.i32();
    name = in.bytes(64);
    if (name.size() == 64) std::memcpy(tz.daylightName, name.data(), 64);
    tz.daylightDate = ReadSysTime(in);
    tz.daylightBias = in.i32();
    return tz;
}

void WriteTimeZone(WireOut& out, const TimeZone& tz) {
    out.i32(tz.bias);
    out.bytes(tz.standardName, 64);
    WriteSysTime(out, tz.standardDate);
    out.i32(tz.standardBias);
    out.bytes(tz.daylightName, 64);
    WriteSysTime(out, tz.daylightDate);
    out.i32(tz.daylightBias);
}

void SetName(uint8_t (&field)[64], const char16_t* text) {
    std::memset(field, 0, sizeof field);
    for (size_t i = 0; text[i] && i < 31; ++i) {
        field[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        field[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
}

// ---- calendar arithmetic (proleptic Gregorian, days since 1970-01-01) ---------------

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int64_t y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Sunday = 0, as wDayOfWeek.
unsigned DayOfWeek(int64_t days) {
    int64_t w = (days + 4) % 7;  // 1970-01-01 was a Thursday
    return static_cast<unsigned>(w < 0 ? w + 7 : w);
}

bool Valid(const SysTime& t) {
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12) return false;
    if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
    return t.hour < 24 && t.minute < 60 && t.second < 60 && t.ms < 1000;
}

int64_t ToMs(const SysTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * kMsPerDay +
           ((t.hour * 60 + t.minute) * 60 + t.second) * 1000LL + t.ms;
}

SysTime FromMs(int64_t ms) {
    int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
    int64_t rest = ms - days * kMsPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    SysTime t;
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint16_t>(m);
    t.day = static_cast<uint16_t>(d);
    t.dayOfWeek = static_cast<uint16_t>(DayOfWeek(days));
    t.hour = static_cast<uint16_t>(rest / 3600000);
    t.minute = static_cast<uint16_t>(rest / 60000 % 60);
    t.second = static_cast<uint16_t>(rest / 1000 % 60);
    t.ms = static_cast<uint16_t>(rest % 1000);
    return t;
}

// The local moment (ms) of a transition rule in year y.
int64_t TransitionMs(const SysTime& rule, int64_t y) {
    unsigned day;
    if (rule.year == 0) {
        // The rule.day-th rule.dayOfWeek of the month (5 = the last one).
        int64_t first = DaysFromCivil(y, rule.month, 1);
        unsigned firstDow = DayOfWeek(first);
        day = 1 + (rule.dayOfWeek + 7 - firstDow) % 7;
        unsigned week = rule.day < 1 ? 1 : (rule.day > 5 ? 5 : rule.day);
        day += 7 * (week - 1);
        while (day > DaysInMonth(y, rule.month)) day -= 7;
    } else {
        day = rule.day < 1 ? 1 : (rule.day > DaysInMonth(y, rule.month) ? DaysInMonth(y, rule.month) : rule.day);
    }
    return DaysFromCivil(y, rule.month, day) * kMsPerDay +
           ((rule.hour * 60 + rule.minute) * 60 + rule.second) * 1000LL + rule.ms;
}

bool HasDaylight(const TimeZone& tz) {
    return tz.standardDate.month >= 1 && tz.standardDate.month <= 12 && tz.daylightDate.month >= 1 &&
           tz.daylightDate.month <= 12;
}

// Whether the UTC moment falls into daylight time.
bool InDaylight(const TimeZone& tz, int64_t utcMs) {
    if (!HasDaylight(tz)) return false;
    int64_t year = FromMs(utcMs - tz.bias * kMsPerMinute).year;
    // The switch to daylight time is given in standard time, the switch back
    // in daylight time.
    int64_t start = TransitionMs(tz.daylightDate, year) + (tz.bias + tz.standardBias) * kMsPerMinute;
    int64_t end = TransitionMs(tz.standardDate, year) + (tz.bias + tz.daylightBias) * kMsPerMinute;
    if (start < end) return utcMs >= start && utcMs < end;
    return !(utcMs >= end && utcMs < start);  // southern hemisphere
}

// ---- the clock ------------------------------------------------------------------------

class Clock {
public:
    explicit Clock(DeviceState&) {
        SetName(m_zone.standardName, u"Coordinated Universal Time");
        SetName(m_zone.daylightName, u"Coordinated Universal Time");
    }

    int64_t UtcMs() const { return HostMs() + m_offsetMs; }
    void SetUtcMs(int64_t ms) { m_offsetMs = ms - HostMs(); }

    // Minutes to add to local time for UTC at this UTC moment.
    int32_t BiasAt(int64_t utcMs) const {
        return m_zone.bias + (InDaylight(m_zone, utcMs) ? m_zone.daylightBias : m_zone.standardBias);
    }

    int64_t LocalMs() const {
        int64_t utc = UtcMs();
        return utc - BiasAt(utc) * kMsPerMinute;
    }

    void SetLocalMs(int64_t local) {
        // Take the bias of the moment the local time names in standard time,
        // then once more with the bias found.
        int64_t utc = local + (m_zone.bias + m_zone.standardBias) * kMsPerMinute;
        utc = local + BiasAt(utc) * kMsPerMinute;
        SetUtcMs(utc);
    }

    uint32_t ZoneId() const {
        if (!HasDaylight(m_zone)) return kZoneIdUnknown;
        return InDaylight(m_zone, UtcMs()) ? kZoneIdDaylight : kZoneIdStandard;
    }

    const TimeZone& Zone() const { return m_zone; }
    void SetZone(const TimeZone& zone) { m_zone = zone; }

private:
    static int64_t HostMs() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    int64_t m_offsetMs = 0;
    TimeZone m_zone;
};

bool ValidRule(const SysTime& rule) {
    if (rule.month == 0) return true;  // no transition
    if (rule.month > 12 || rule.hour > 23 || rule.minute > 59 || rule.second > 59 || rule.ms > 999)
        return false;
    if (rule.year == 0) return rule.day >= 1 && rule.day <= 5 && rule.dayOfWeek <= 6;
    return rule.day >= 1 && rule.day <= 31;
}

void GetSystemTime(CommandContext& ctx) {
    ctx.response.u32(kErrorSuccess);
    WriteSysTime(ctx.response, FromMs(ctx.Family<Clock>().UtcMs()));
}

void GetLocalTime(CommandContext& ctx) {
    ctx.response.u32(kErrorSuccess);
    WriteSysTime(ctx.response, FromMs(ctx.Family<Clock>().LocalMs()));
}

void SetSystemTime(CommandContext& ctx) {
    SysTime t = ReadSysTime(ctx.request);
    if (!ctx.request.ok()) return;
    if (!Valid(t)) {
        ctx.response.u32(kErrorInvalidParameter).u32(0);
        return;
    }
    ctx.Family<Clock>().SetUtcMs(ToMs(t));
    ctx.response.u32(kErrorSuccess).u32(1);
}

void SetLocalTime(CommandContext& ctx) {
    SysTime t = ReadSysTime(ctx.request);
    if (!ctx.request.ok()) return;
    if (!Valid(t)) {
        ctx.response.u32(kErrorInvalidParameter).u32(0);
        return;
    }
    ctx.Family<Clock>().SetLocalMs(ToMs(t));
    ctx.response.u32(kErrorSuccess).u32(1);
}

void GetTimeZoneInformation(CommandContext& ctx) {
    Clock& clock = ctx.Family<Clock>();
    ctx.response.u32(kErrorSuccess).u32(clock.ZoneId());
    WriteTimeZone(ctx.response, clock.Zone());
}

void SetTimeZoneInformation(CommandContext& ctx) {
    TimeZone tz = ReadTimeZone(ctx.request);
    if (!ctx.request.ok()) return;
    if (!ValidRule(tz.standardDate) || !ValidRule(tz.daylightDate) || tz.bias < -24 * 60 ||
        tz.bias > 24 * 60) {
        ctx.response.u32(kErrorInvalidParameter).u32(0);
        return;
    }
    ctx.Family<Clock>().SetZone(tz);
    ctx.response.u32(kErrorSuccess).u32(1);
}

}  // namespace

void RegisterClockServices(ServiceTable& table) {
    table.Register(0x04, CutShortWhenHostile(GetSystemTime));
    table.Register(0x05, CutShortWhenHostile(SetSystemTime));
    table.Register(0x06, CutShortWhenHostile(GetLocalTime));
    table.Register(0x07, CutShortWhenHostile(SetLocalTime));
    table.Register(0x08, CutShortWhenHostile(GetTimeZoneInformation));
    table.Register(0x09, CutShortWhenHostile(SetTimeZoneInformation));
}

}  // namespace sim
