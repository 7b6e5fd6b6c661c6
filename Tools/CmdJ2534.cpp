// vantro j2534: the pass-thru interface by hand: versions, and a session
// that connects a protocol, sets filters and periodic messages, sends, and
// shows every message that arrives as it arrives (time, id, data).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Tools/J2534Session.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace cli {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string Seconds3(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%9.3f", s);
    return text;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

int Version(Context& ctx) {
    PassThruSession session(ctx);
    if (int rc = session.Open()) return rc;
    char firmware[80], dll[80], api[80];
    std::memset(firmware, 0, sizeof firmware);
    std::memset(dll, 0, sizeof dll);
    std::memset(api, 0, sizeof api);
    uint32_t status = PassThruReadVersion(session.Device(), firmware, dll, api);
    if (status != STATUS_NOERROR) return session.Fail(status, "PassThruReadVersion failed");
    uint32_t battery = 0, programming = 0;
    status = PassThruIoctl(session.Device(), READ_VBATT, nullptr, &battery);
    if (status != STATUS_NOERROR) return session.Fail(status, "READ_VBATT failed");
    const bool haveProgramming = PassThruIoctl(session.Device(), READ_PROG_VOLTAGE, nullptr, &programming) == 0;
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("firmware", firmware);
        j.Set("dll", dll);
        j.Set("api", api);
        j.Set("batteryMillivolts", battery);
        if (haveProgramming) j.Set("programmingMillivolts", programming);
        return ctx.out.Done(j);
    }
    char volts[64];
    ctx.out.Line("Firmware     " + std::string(firmware));
    ctx.out.Line("Library      " + std::string(dll));
    ctx.out.Line("API          " + std::string(api));
    std::snprintf(volts, sizeof volts, "%.2f V", battery / 1000.0);
    ctx.out.Line("Battery      " + std::string(volts));
    if (haveProgramming) {
        std::snprintf(volts, sizeof volts, "%.2f V", programming / 1000.0);
        ctx.out.Line("Programming  " + std::string(volts));
    }
    return kExitOk;
}

// "MASK,PATTERN[,FLOW]" as messages of the protocol.
bool ParseFilter(const std::string& text, uint32_t protocol, size_t parts, std::vector<PASSTHRU_MSG>* out,
                 std::string* error) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (pieces.size() != parts) {
        *error = "'" + text + "' needs " + std::string(parts == 2 ? "MASK,PATTERN" : "MASK,PATTERN,FLOW");
        return false;
    }
    out->clear();
    for (size_t i = 0; i < pieces.size(); ++i) {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(pieces[i], &bytes) || bytes.empty() || bytes.size() > 12) {
            *error = "'" + pieces[i] + "' is not 1 to 12 hex bytes";
            return false;
        }
        const bool flow = i == 2;
        out->push_back(MakeMessage(protocol, bytes, flow && protocol == ISO15765 ? ISO15765_FRAME_PAD : 0));
    }
    return true;
}

struct TraceLine {
    double t;
    std::string dir, id, data;
    uint32_t rxStatus;
    uint32_t timestamp;
};

int Trace(Context& ctx, const ParsedArgs& p) {
    if (p.positional.size() != 1) return ctx.out.Usage("j2534 trace takes options only");
    uint32_t protocol = ISO15765;
    if (p.HasValue("--protocol") && !ProtocolByName(p.Value("--protocol"), &protocol))
        return ctx.out.Usage("unknown protocol '" + p.Value("--protocol") + "'");
    uint32_t baud = DefaultBaud(protocol), flags = 0, count = 0;
    if (p.HasValue("--baud") && !ParseUint32(p.Value("--baud"), &baud)) return ctx.out.Usage("--baud needs a number");
    if (p.HasValue("--flags") && !ParseUint32(p.Value("--flags"), &flags))
        return ctx.out.Usage("--flags needs a number");
    if (p.HasValue("--count") && !ParseUint32(p.Value("--count"), &count))
        return ctx.out.Usage("--count needs a number");
    double duration = 2.0;
    if (p.HasValue("--duration")) {
        char* end = nullptr;
        const std::string v = p.Value("--duration");
        duration = std::strtod(v.c_str(), &end);
        if (end == v.c_str() || *end != 0 || duration < 0 || duration > 3600)
            return ctx.out.Usage("--duration needs seconds (0 to 3600)");
    }

    // Everything is checked before the device is opened.
    std::string error;
    struct FilterSpec {
        uint32_t type;
        std::vector<PASSTHRU_MSG> msgs;
    };
    std::vector<FilterSpec> filters;
    const struct {
        const char* option;
        uint32_t type;
        size_t parts;
    } kFilterOptions[] = {{"--pass", PASS_FILTER, 2}, {"--block", BLOCK_FILTER, 2}, {"--flow", FLOW_CONTROL_FILTER, 3}};
    for (const auto& option : kFilterOptions) {
        for (const std::string& text : p.All(option.option)) {
            FilterSpec f;
            f.type = option.type;
            if (!ParseFilter(text, protocol, option.parts, &f.msgs, &error)) return ctx.out.Usage(error);
            filters.push_back(f);
        }
    }
    if (filters.empty()) {
        if (protocol == ISO15765) {
            for (uint8_t i = 0; i < 8; ++i) {
                FilterSpec f;
                f.type = FLOW_CONTROL_FILTER;
                f.msgs = {MakeMessage(protocol, {0xFF, 0xFF, 0xFF, 0xFF}, 0),
                          MakeMessage(protocol, {0, 0, 0x07, static_cast<uint8_t>(0xE8 + i)}, 0),
                          MakeMessage(protocol, {0, 0, 0x07, static_cast<uint8_t>(0xE0 + i)}, ISO15765_FRAME_PAD)};
                filters.push_back(f);
            }
        } else {
            FilterSpec f;
            f.type = PASS_FILTER;
            const std::vector<uint8_t> zero(HasCanId(protocol) ? 4 : 1, 0);
            f.msgs = {MakeMessage(protocol, zero, 0), MakeMessage(protocol, zero, 0)};
            filters.push_back(f);
        }
    }
    std::vector<PASSTHRU_MSG> sends;
    for (const std::string& text : p.All("--send")) {
        PASSTHRU_MSG m;
        if (!ParseMessage(text, protocol, &m, &error)) return ctx.out.Usage(error);
        sends.push_back(m);
    }
    std::vector<std::pair<PASSTHRU_MSG, uint32_t>> periodics;
    for (const std::string& text : p.All("--periodic")) {
        const size_t at = text.rfind('@');
        uint32_t interval = 0;
        PASSTHRU_MSG m;
        if (at == std::string::npos || !ParseUint32(text.substr(at + 1), &interval))
            return ctx.out.Usage("--periodic needs MSG@MS");
        if (!ParseMessage(text.substr(0, at), protocol, &m, &error)) return ctx.out.Usage(error);
        periodics.emplace_back(m, interval);
    }

    PassThruSession session(ctx);
    if (int rc = session.Open()) return rc;
    if (int rc = session.Connect(protocol, flags, baud)) return rc;
    if (p.Has("--loopback")) {
        if (int rc = session.SetConfig(LOOPBACK, 1)) return rc;
    }
    Json filterIds = Json::Array();
    for (const FilterSpec& f : filters) {
        uint32_t id = 0;
        if (int rc = session.StartFilter(f.type, &f.msgs[0], &f.msgs[1], f.msgs.size() > 2 ? &f.msgs[2] : nullptr, &id))
            return rc;
        filterIds.Push(id);
    }
    const SteadyClock::time_point start = SteadyClock::now();
    auto since = [start] { return std::chrono::duration<double>(SteadyClock::now() - start).count(); };
    std::vector<TraceLine> lines;
    auto show = [&](const TraceLine& line) {
        lines.push_back(line);
        ctx.out.Line(Seconds3(line.t) + "  " + PadRight(line.dir, 8) + PadLeft(line.id, 8) + "  " + line.data);
    };

    char listen[32];
    std::snprintf(listen, sizeof listen, "%.1f s", duration);
    ctx.out.Line(std::string("J2534 ") + ProtocolName(protocol) + " at " + std::to_string(baud) + " baud, channel " +
                 std::to_string(session.Channel()) + ", " + std::to_string(filters.size()) + " filter(s); listening " +
                 listen);
    ctx.out.Line("     time  dir           id  data");
    Json periodicIds = Json::Array();
    for (auto& pm : periodics) {
        uint32_t id = 0;
        if (int rc = session.StartPeriodic(&pm.first, pm.second, &id)) return rc;
        periodicIds.Push(id);
        show({since(), "periodic", MessageId(pm.first), MessageData(pm.first) + "  every " +
                                                               std::to_string(pm.second) + " ms", 0, 0});
    }
    for (PASSTHRU_MSG& m : sends) {
        if (int rc = session.Write(&m, 500)) return rc;
        show({since(), "tx", MessageId(m), MessageData(m), 0, 0});
    }

    uint32_t received = 0;
    while (since() < duration && (count == 0 || received < count)) {
        const double left = duration - since();
        const uint32_t wait = left > 0.1 ? 100u : static_cast<uint32_t>(left * 1000) + 1;
        std::vector<PASSTHRU_MSG> msgs;
        if (int rc = session.Read(wait, &msgs)) return rc;
        for (const PASSTHRU_MSG& m : msgs) {
            if (count != 0 && received >= count) break;
            show({since(), MessageKind(m), MessageId(m), MessageData(m), m.RxStatus, m.Timestamp});
            ++received;
        }
    }
    ctx.out.Line(std::to_string(received) + " message(s) received");

    if (!ctx.out.IsJson()) return kExitOk;
    Json j = Json::Object();
    j.Set("protocol", ProtocolName(protocol));
    j.Set("baud", baud);
    j.Set("channel", session.Channel());
    j.Set("filters", filterIds);
    j.Set("periodic", periodicIds);
    Json messages = Json::Array();
    for (const TraceLine& l : lines) {
        Json m = Json::Object();
        m.Set("t", l.t);
        m.Set("dir", l.dir);
        m.Set("id", l.id);
        m.Set("data", l.data);
        m.Set("rxStatus", l.rxStatus);
        m.Set("timestamp", l.timestamp);
        messages.Push(m);
    }
    j.Set("messages", messages);
    j.Set("received", received);
    return ctx.out.Done(j);
}

}  // namespace

int CmdJ2534(Context& ctx, const std::vector<std::string>& args) {
    ArgSpec shape;
    shape.values = {"--protocol", "--baud", "--flags", "--pass", "--block", "--flow", "--send", "--periodic",
                   "--duration", "--count"};
    shape.flags = {"--loopback"};
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    if (p.positional.empty()) return ctx.out.Usage("j2534 version|trace ...");
    if (p.positional[0] == "version") {
        if (p.positional.size() != 1 || !p.values.empty() || !p.flags.empty())
            return ctx.out.Usage("j2534 version takes no arguments");
        return Version(ctx);
    }
    if (p.positional[0] == "trace") return Trace(ctx, p);
    return ctx.out.Usage("unknown j2534 command '" + p.positional[0] + "'");
}

}  // namespace cli
