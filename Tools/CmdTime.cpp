// vantro time: the device's clock (show, set, sync to the PC).
#include <cstdio>
#include <cstring>

#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace cli {

namespace {

CivilTime FromSystemTime(const VSYSTEMTIME& st) {
    CivilTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

VSYSTEMTIME ToSystemTime(const CivilTime& t) {
    VSYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(t.year);
    st.wMonth = static_cast<uint16_t>(t.month);
    st.wDay = static_cast<uint16_t>(t.day);
    st.wDayOfWeek = static_cast<uint16_t>(WeekDay(DaysFromCivil(t.year, t.month, t.day)));
    st.wHour = static_cast<uint16_t>(t.hour);
    st.wMinute = static_cast<uint16_t>(t.minute);
    st.wSecond = static_cast<uint16_t>(t.second);
    st.wMilliseconds = static_cast<uint16_t>(t.millisecond);
    return st;
}

// Milliseconds since 1970 of a calendar time.
int64_t EpochMs(const CivilTime& t) {
    return ((DaysFromCivil(t.year, t.month, t.day) * 24 + t.hour) * 60 + t.minute) * 60000LL + t.second * 1000LL +
           t.millisecond;
}

const char* ZoneIdName(uint32_t id) {
    switch (id) {
        case VANTRO_TIME_ZONE_ID_STANDARD: return "standard";
        case VANTRO_TIME_ZONE_ID_DAYLIGHT: return "daylight";
        default: return "unknown";
    }
}

std::string BiasText(int32_t minutesWest) {
    // Win32's bias is UTC minus local time.
    const int32_t east = -minutesWest;
    char text[16];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", east < 0 ? '-' : '+', (east < 0 ? -east : east) / 60,
                  (east < 0 ? -east : east) % 60);
    return text;
}

int Show(Context& ctx) {
    VSYSTEMTIME utc, local;
    std::memset(&utc, 0, sizeof utc);
    std::memset(&local, 0, sizeof local);
    uint32_t rc = KovGetSystemTime(&utc);
    const CivilTime pcNow = NowUtc();
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot read the device's time"));
    rc = KovGetLocalTime(&local);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot read the device's local time"));
    VTIME_ZONE_INFORMATION zone;
    std::memset(&zone, 0, sizeof zone);
    uint32_t zoneId = 0;
    rc = KovGetTimeZoneInformation(&zoneId, &zone);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot read the device's time zone"));

    const CivilTime deviceUtc = FromSystemTime(utc);
    const double aheadSeconds = static_cast<double>(EpochMs(deviceUtc) - EpochMs(pcNow)) / 1000.0;
    const std::string standardName = ToUtf8(zone.StandardName, 32);
    const std::string daylightName = ToUtf8(zone.DaylightName, 32);
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("utc", CivilTimeText(deviceUtc, true));
        j.Set("local", CivilTimeText(FromSystemTime(local), true));
        j.Set("pcUtc", CivilTimeText(pcNow, true));
        j.Set("aheadOfPcSeconds", aheadSeconds);
        Json z = Json::Object();
        z.Set("id", zoneId);
        z.Set("state", ZoneIdName(zoneId));
        z.Set("biasMinutes", zone.Bias);
        z.Set("standardName", standardName);
        z.Set("standardBias", zone.StandardBias);
        z.Set("daylightName", daylightName);
        z.Set("daylightBias", zone.DaylightBias);
        j.Set("timeZone", z);
        return ctx.out.Done(j);
    }
    char ahead[64];
    std::snprintf(ahead, sizeof ahead, "%+.3f s against the PC", aheadSeconds);
    ctx.out.Line("UTC         " + CivilTimeText(deviceUtc, true) + "  (" + ahead + ")");
    ctx.out.Line("Local       " + CivilTimeText(FromSystemTime(local), true));
    ctx.out.Line("Time zone   " + (standardName.empty() ? std::string("(no name)") : standardName) + ", " +
                 BiasText(zone.Bias) + ", " + ZoneIdName(zoneId) + " time" +
                 (daylightName.empty() ? "" : " (daylight: " + daylightName + ")"));
    return kExitOk;
}

int SetTo(Context& ctx, const CivilTime& t, bool local, const char* verb) {
    const VSYSTEMTIME st = ToSystemTime(t);
    uint32_t done = 0;
    const uint32_t rc = local ? KovSetLocalTime(&done, &st) : KovSetSystemTime(&done, &st);
    const std::string which = local ? "local time" : "UTC time";
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot set the device's " + which));
    if (done == 0) return ctx.out.Fail(DeviceErrorFailure(0, "the device did not take the " + which));
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set(local ? "local" : "utc", CivilTimeText(t, true));
        j.Set("action", verb);
        return ctx.out.Done(j);
    }
    ctx.out.Line(std::string("device ") + which + " " + verb + " to " + CivilTimeText(t, true));
    return kExitOk;
}

}  // namespace

int CmdTime(Context& ctx, const std::vector<std::string>& args) {
    ArgSpec shape;
    shape.flags.insert("--local");
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    const std::string verb = p.positional.empty() ? "show" : p.positional[0];
    if (verb == "show") {
        if (p.positional.size() > 1) return ctx.out.Usage("time show takes no arguments");
        return Show(ctx);
    }
    if (verb == "set") {
        if (p.positional.size() != 2) return ctx.out.Usage("time set \"YYYY-MM-DD HH:MM:SS\" [--local]");
        CivilTime t;
        if (!ParseCivilTime(p.positional[1], &t))
            return ctx.out.Usage("'" + p.positional[1] + "' is not a time as YYYY-MM-DD HH:MM:SS");
        return SetTo(ctx, t, p.Has("--local"), "set");
    }
    if (verb == "sync") {
        if (p.positional.size() > 1 || p.Has("--local")) return ctx.out.Usage("time sync takes no arguments");
        return SetTo(ctx, NowUtc(), false, "synchronised");
    }
    return ctx.out.Usage("unknown time command '" + verb + "'");
}

}  // namespace cli
