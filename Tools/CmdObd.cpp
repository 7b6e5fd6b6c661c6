// vantro obd: OBD-II over ISO 15765 (11-bit identifiers, 500 kbit/s) through
// the J2534 exports: supported PIDs, live values, trouble codes, the VIN.
// Requests go out functionally (7DF); each ECU answers on 7E8 + n, and a
// flow-control filter per ECU lets the device join multi-frame answers.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "Tools/J2534Session.h"
#include "Tools/Text.h"

namespace cli {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kFunctionalId = 0x7DF;
constexpr uint8_t kEcuCount = 8;
// An answer comes within P2 (50 ms) of the request; the ECUs' answers are
// collected until this long passes without one more, or the whole limit.
constexpr int kQuietMs = 200;
constexpr int kFirstAnswerMs = 1500;
constexpr size_t kMaxPidsPerRequest = 6;

struct PidInfo {
    uint8_t pid;
    uint8_t bytes;
    const char* key;   // JSON name
    const char* name;  // for people
    const char* unit;
    double (*decode)(const uint8_t* d);
};

double A(const uint8_t* d) { return d[0]; }
double AB(const uint8_t* d) { return d[0] * 256.0 + d[1]; }
double Percent(const uint8_t* d) { return d[0] * 100.0 / 255.0; }
double Celsius(const uint8_t* d) { return d[0] - 40.0; }
double Rpm(const uint8_t* d) { return AB(d) / 4.0; }
double Maf(const uint8_t* d) { return AB(d) / 100.0; }
double Volts(const uint8_t* d) { return AB(d) / 1000.0; }
double Trim(const uint8_t* d) { return (d[0] - 128.0) * 100.0 / 128.0; }
double Timing(const uint8_t* d) { return d[0] / 2.0 - 64.0; }
double FuelPressure(const uint8_t* d) { return d[0] * 3.0; }

const PidInfo kPids[] = {
    {0x01, 4, "monitorStatus", "monitor status", "", nullptr},
    {0x03, 2, "fuelSystemStatus", "fuel system status", "", nullptr},
    {0x04, 1, "engineLoad", "engine load", "%", Percent},
    {0x05, 1, "coolantTemperature", "coolant temperature", "°C", Celsius},
    {0x06, 1, "shortFuelTrim1", "short term fuel trim bank 1", "%", Trim},
    {0x07, 1, "longFuelTrim1", "long term fuel trim bank 1", "%", Trim},
    {0x0A, 1, "fuelPressure", "fuel pressure", "kPa", FuelPressure},
    {0x0B, 1, "intakePressure", "intake manifold pressure", "kPa", A},
    {0x0C, 2, "engineSpeed", "engine speed", "rpm", Rpm},
    {0x0D, 1, "vehicleSpeed", "vehicle speed", "km/h", A},
    {0x0E, 1, "timingAdvance", "timing advance", "°", Timing},
    {0x0F, 1, "intakeAirTemperature", "intake air temperature", "°C", Celsius},
    {0x10, 2, "airFlow", "air flow rate", "g/s", Maf},
    {0x11, 1, "throttlePosition", "throttle position", "%", Percent},
    {0x13, 1, "oxygenSensors", "oxygen sensors present", "", nullptr},
    {0x1C, 1, "obdStandard", "OBD standard", "", A},
    {0x1F, 2, "runTime", "run time since engine start", "s", AB},
    {0x21, 2, "distanceWithMil", "distance with MIL on", "km", AB},
    {0x2F, 1, "fuelLevel", "fuel level", "%", Percent},
    {0x31, 2, "distanceSinceClear", "distance since codes cleared", "km", AB},
    {0x33, 1, "barometricPressure", "barometric pressure", "kPa", A},
    {0x42, 2, "moduleVoltage", "control module voltage", "V", Volts},
    {0x46, 1, "ambientTemperature", "ambient air temperature", "°C", Celsius},
    {0x5C, 1, "oilTemperature", "engine oil temperature", "°C", Celsius},
};

const PidInfo* FindPid(uint8_t pid) {
    for (const PidInfo& p : kPids)
        if (p.pid == pid) return &p;
    return nullptr;
}

bool IsSupportPid(uint8_t pid) { return pid % 0x20 == 0; }

std::string Hex2(uint32_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", v & 0xFF);
    return text;
}

std::string ValueText(double v) {
    char text[32];
    if (v == static_cast<double>(static_cast<long long>(v)))
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
    else
        std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

// "P0301" from the two bytes of a trouble code.
std::string DtcText(uint8_t high, uint8_t low) {
    static const char kLetters[] = {'P', 'C', 'B', 'U'};
    char text[8];
    std::snprintf(text, sizeof text, "%c%X%X%02X", kLetters[high >> 6], (high >> 4) & 3, high & 15, low);
    return text;
}

struct Answer {
    std::string ecu;            // "7E8"
    std::vector<uint8_t> data;  // service answer, from its SID on
};

class ObdLink {
public:
    explicit ObdLink(Context& ctx) : m_ctx(ctx), m_session(ctx) {}

    int Start() {
        if (int rc = m_session.Open()) return rc;
        if (int rc = m_session.Connect(ISO15765, 0, 500000)) return rc;
        for (uint8_t i = 0; i < kEcuCount; ++i) {
            const PASSTHRU_MSG mask = MakeMessage(ISO15765, {0xFF, 0xFF, 0xFF, 0xFF}, 0);
            const PASSTHRU_MSG pattern = MakeMessage(ISO15765, {0, 0, 0x07, static_cast<uint8_t>(0xE8 + i)}, 0);
            const PASSTHRU_MSG flow =
                MakeMessage(ISO15765, {0, 0, 0x07, static_cast<uint8_t>(0xE0 + i)}, ISO15765_FRAME_PAD);
            uint32_t id = 0;
            if (int rc = m_session.StartFilter(FLOW_CONTROL_FILTER, &mask, &pattern, &flow, &id)) return rc;
        }
        return kExitOk;
    }

    // Sends a functional request and collects the positive answers to it.
    int Request(const std::vector<uint8_t>& request, std::vector<Answer>* answers) {
        answers->clear();
        if (int rc = m_session.ClearReceived()) return rc;
        // Sized once and filled in place (growing a 4-byte vector trips a
        // false -Warray-bounds of GCC 12 at -O3).
        std::vector<uint8_t> bytes(4 + request.size());
        bytes[2] = static_cast<uint8_t>(kFunctionalId >> 8);
        bytes[3] = static_cast<uint8_t>(kFunctionalId & 0xFF);
        std::copy(request.begin(), request.end(), bytes.begin() + 4);
        PASSTHRU_MSG msg = MakeMessage(ISO15765, bytes, ISO15765_FRAME_PAD);
        if (int rc = m_session.Write(&msg, 500)) return rc;
        const SteadyClock::time_point start = SteadyClock::now();
        SteadyClock::time_point last = start;
        for (;;) {
            const SteadyClock::time_point now = SteadyClock::now();
            if (answers->empty() ? now - start > std::chrono::milliseconds(kFirstAnswerMs)
                                 : now - last > std::chrono::milliseconds(kQuietMs))
                break;
            std::vector<PASSTHRU_MSG> msgs;
            if (int rc = m_session.Read(50, &msgs)) return rc;
            for (const PASSTHRU_MSG& m : msgs) {
                if (!IsPlainReceive(m) || m.DataSize < 5) continue;
                std::vector<uint8_t> data(m.Data + 4, m.Data + m.DataSize);
                if (data[0] != static_cast<uint8_t>(request[0] + 0x40)) continue;
                if (request.size() > 1 && (request[0] == 0x09) && (data.size() < 2 || data[1] != request[1])) continue;
                answers->push_back({MessageId(m), data});
                last = SteadyClock::now();
            }
        }
        return kExitOk;
    }

    Context& ctx() { return m_ctx; }

private:
    Context& m_ctx;
    PassThruSession m_session;
};

int NoAnswer(Context& ctx, const std::string& what) {
    Failure f = DeviceErrorFailure(0, what);
    f.message = "No ECU answered (is the ignition on?).";
    return ctx.out.Fail(f);
}

int Pids(Context& ctx, ObdLink& link) {
    std::map<std::string, std::vector<uint8_t>> supported;  // per ECU
    std::map<std::string, bool> more;
    for (uint32_t base = 0; base <= 0xE0; base += 0x20) {
        if (base != 0) {
            bool any = false;
            for (const auto& e : more) any = any || e.second;
            if (!any) break;
        }
        std::vector<Answer> answers;
        if (int rc = link.Request({0x01, static_cast<uint8_t>(base)}, &answers)) return rc;
        for (auto& e : more) e.second = false;
        for (const Answer& a : answers) {
            if (a.data.size() < 6 || a.data[1] != base) continue;
            const uint32_t bits = (static_cast<uint32_t>(a.data[2]) << 24) | (static_cast<uint32_t>(a.data[3]) << 16) |
                                  (static_cast<uint32_t>(a.data[4]) << 8) | a.data[5];
            std::vector<uint8_t>& list = supported[a.ecu];
            for (uint32_t i = 1; i <= 0x20; ++i)
                if (bits & (1u << (32 - i))) list.push_back(static_cast<uint8_t>(base + i));
            more[a.ecu] = (bits & 1u) != 0;
        }
        if (base == 0 && answers.empty()) return NoAnswer(ctx, "cannot read the supported PIDs");
    }
    Json ecus = Json::Array();
    for (const auto& e : supported) {
        Json pids = Json::Array();
        ctx.out.Line("ECU " + e.first + ": " + std::to_string(e.second.size()) + " PIDs");
        for (uint8_t pid : e.second) {
            const PidInfo* info = FindPid(pid);
            Json j = Json::Object();
            j.Set("pid", Hex2(pid));
            j.Set("name", IsSupportPid(pid) ? "supported PIDs" : info ? info->name : "");
            pids.Push(j);
            ctx.out.Line("  " + Hex2(pid) + "  " +
                         (IsSupportPid(pid) ? std::string("supported PIDs ") + Hex2(pid + 1) + "-" + Hex2(pid + 0x20)
                          : info            ? std::string(info->name) + (*info->unit ? " (" + std::string(info->unit) + ")" : "")
                                            : std::string("(not known to the tool)")));
        }
        Json ecu = Json::Object();
        ecu.Set("ecu", e.first);
        ecu.Set("pids", pids);
        ecus.Push(ecu);
    }
    Json j = Json::Object();
    j.Set("ecus", ecus);
    return ctx.out.Done(j);
}

// The PID values of one answer "41 pid data pid data ...".
void ParsePidAnswer(const std::vector<uint8_t>& data, std::map<uint8_t, std::vector<uint8_t>>* values) {
    size_t at = 1;
    while (at < data.size()) {
        const uint8_t pid = data[at];
        const PidInfo* info = FindPid(pid);
        const size_t n = IsSupportPid(pid) ? 4 : info ? info->bytes : 0;
        if (n == 0 || at + 1 + n > data.size()) return;
        values->emplace(pid, std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                                  data.begin() + static_cast<std::ptrdiff_t>(at + 1 + n)));
        at += 1 + n;
    }
}

bool ParsePidList(const std::vector<std::string>& texts, std::vector<uint8_t>* pids, std::string* error) {
    for (const std::string& text : texts) {
        size_t start = 0;
        for (;;) {
            const size_t comma = text.find(',', start);
            const std::string one = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            std::vector<uint8_t> b;
            uint32_t v = 0;
            if (one.size() > 2 && one[0] == '0' && (one[1] == 'x' || one[1] == 'X')) {
                if (!ParseUint32(one, &v) || v > 0xFF) {
                    *error = "'" + one + "' is not a PID";
                    return false;
                }
            } else if (ParseHexBytes(one, &b) && b.size() == 1) {
                v = b[0];
            } else {
                *error = "'" + one + "' is not a PID (hex, as 0C)";
                return false;
            }
            if (IsSupportPid(static_cast<uint8_t>(v)) || !FindPid(static_cast<uint8_t>(v)) || !FindPid(static_cast<uint8_t>(v))->decode) {
                *error = "PID " + Hex2(v) + " has no value the tool can show";
                return false;
            }
            pids->push_back(static_cast<uint8_t>(v));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return true;
}

int Live(Context& ctx, ObdLink& link, const std::vector<uint8_t>& pids, uint32_t samples, uint32_t intervalMs) {
    Json list = Json::Array();
    const SteadyClock::time_point start = SteadyClock::now();
    for (uint32_t s = 0; s < samples; ++s) {
        const SteadyClock::time_point due = start + std::chrono::milliseconds(static_cast<uint64_t>(s) * intervalMs);
        std::this_thread::sleep_until(due);  // paces the samples
        const double t = std::chrono::duration<double>(SteadyClock::now() - start).count();
        std::map<uint8_t, std::vector<uint8_t>> raw;
        std::map<uint8_t, std::string> from;
        for (size_t i = 0; i < pids.size(); i += kMaxPidsPerRequest) {
            std::vector<uint8_t> request = {0x01};
            for (size_t k = i; k < pids.size() && k < i + kMaxPidsPerRequest; ++k) request.push_back(pids[k]);
            std::vector<Answer> answers;
            if (int rc = link.Request(request, &answers)) return rc;
            for (const Answer& a : answers) {
                std::map<uint8_t, std::vector<uint8_t>> values;
                ParsePidAnswer(a.data, &values);
                for (const auto& v : values) {
                    if (raw.emplace(v.first, v.second).second) from[v.first] = a.ecu;
                }
            }
        }
        if (raw.empty()) return NoAnswer(ctx, "cannot read live values");
        Json values = Json::Object();
        char head[32];
        std::snprintf(head, sizeof head, "%3u  %6.2f s ", s + 1, t);
        std::string line = head;
        bool first = true;
        for (uint8_t pid : pids) {
            const PidInfo* info = FindPid(pid);
            auto it = raw.find(pid);
            line += first ? " " : " | ";
            first = false;
            if (it == raw.end()) {
                line += std::string(info->name) + " -";
                values.Set(info->key, Json());
                continue;
            }
            const double v = info->decode(it->second.data());
            line += std::string(info->name) + " " + ValueText(v) + (*info->unit ? " " + std::string(info->unit) : "");
            Json value = Json::Object();
            value.Set("pid", Hex2(pid));
            value.Set("value", v);
            value.Set("unit", info->unit);
            value.Set("ecu", from[pid]);
            values.Set(info->key, value);
        }
        ctx.out.Line(line);
        Json sample = Json::Object();
        sample.Set("t", t);
        sample.Set("values", values);
        list.Push(sample);
    }
    Json j = Json::Object();
    j.Set("samples", list);
    return ctx.out.Done(j);
}

int Dtc(Context& ctx, ObdLink& link) {
    std::vector<Answer> status, stored, pending;
    if (int rc = link.Request({0x01, 0x01}, &status)) return rc;
    if (int rc = link.Request({0x03}, &stored)) return rc;
    if (int rc = link.Request({0x07}, &pending)) return rc;
    if (status.empty() && stored.empty()) return NoAnswer(ctx, "cannot read the trouble codes");
    bool mil = false;
    uint32_t count = 0;
    for (const Answer& a : status) {
        if (a.data.size() >= 3 && a.data[1] == 0x01) {
            mil = mil || (a.data[2] & 0x80);
            count += a.data[2] & 0x7F;
        }
    }
    // Codes per ECU from "43 n hi lo hi lo ...".
    auto codes = [](const Answer& a) {
        std::vector<std::string> out;
        for (size_t i = 2; i + 1 < a.data.size(); i += 2) {
            if (a.data[i] == 0 && a.data[i + 1] == 0) continue;
            out.push_back(DtcText(a.data[i], a.data[i + 1]));
        }
        return out;
    };
    std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> byEcu;
    for (const Answer& a : stored) byEcu[a.ecu].first = codes(a);
    for (const Answer& a : pending) byEcu[a.ecu].second = codes(a);

    ctx.out.Line(std::string("MIL ") + (mil ? "on" : "off") + ", " + std::to_string(count) + " stored code(s) reported");
    Json ecus = Json::Array();
    for (const auto& e : byEcu) {
        auto join = [](const std::vector<std::string>& v) {
            std::string s;
            for (const std::string& c : v) s += (s.empty() ? "" : " ") + c;
            return s.empty() ? std::string("none") : s;
        };
        ctx.out.Line("ECU " + e.first + ": stored " + join(e.second.first) + "; pending " + join(e.second.second));
        Json ecu = Json::Object();
        ecu.Set("ecu", e.first);
        Json s = Json::Array(), p = Json::Array();
        for (const std::string& c : e.second.first) s.Push(c);
        for (const std::string& c : e.second.second) p.Push(c);
        ecu.Set("stored", s);
        ecu.Set("pending", p);
        ecus.Push(ecu);
    }
    Json j = Json::Object();
    j.Set("mil", mil);
    j.Set("storedCount", count);
    j.Set("ecus", ecus);
    return ctx.out.Done(j);
}

int Vin(Context& ctx, ObdLink& link) {
    std::vector<Answer> answers;
    if (int rc = link.Request({0x09, 0x02}, &answers)) return rc;
    for (const Answer& a : answers) {
        // 49 02 <count> then the 17 characters.
        if (a.data.size() < 3 + 17) continue;
        std::string vin;
        for (size_t i = 3; i < a.data.size() && vin.size() < 17; ++i)
            if (a.data[i] >= 0x20 && a.data[i] < 0x7F) vin.push_back(static_cast<char>(a.data[i]));
        ctx.out.Line("VIN " + vin + "  (ECU " + a.ecu + ")");
        Json j = Json::Object();
        j.Set("vin", vin);
        j.Set("ecu", a.ecu);
        return ctx.out.Done(j);
    }
    return NoAnswer(ctx, "cannot read the VIN");
}

}  // namespace

int CmdObd(Context& ctx, const std::vector<std::string>& args) {
    ArgSpec shape;
    shape.values = {"--pid", "--samples", "--interval"};
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    if (p.positional.size() != 1) return ctx.out.Usage("obd pids|live|dtc|vin");
    const std::string& verb = p.positional[0];
    const bool live = verb == "live";
    if (!live && !p.values.empty()) return ctx.out.Usage("only obd live takes options");
    if (verb != "pids" && !live && verb != "dtc" && verb != "vin")
        return ctx.out.Usage("unknown obd command '" + verb + "'");

    std::vector<uint8_t> pids;
    uint32_t samples = 5, interval = 500;
    if (live) {
        if (!ParsePidList(p.All("--pid"), &pids, &error)) return ctx.out.Usage(error);
        if (pids.empty()) pids = {0x0C, 0x05, 0x0D, 0x04, 0x11};
        if (p.HasValue("--samples") && (!ParseUint32(p.Value("--samples"), &samples) || samples == 0))
            return ctx.out.Usage("--samples needs a number above 0");
        if (p.HasValue("--interval") && !ParseUint32(p.Value("--interval"), &interval))
            return ctx.out.Usage("--interval needs milliseconds");
    }

    ObdLink link(ctx);
    if (int rc = link.Start()) return rc;
    if (verb == "pids") return Pids(ctx, link);
    if (live) return Live(ctx, link, pids, samples, interval);
    if (verb == "dtc") return Dtc(ctx, link);
    return Vin(ctx, link);
}

}  // namespace cli
