// vantro repro: reprogramming status, and the progress of a running
// reprogramming until it ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace cli {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kMaxSystems = 32;
constexpr uint32_t kPollMs = 200;

// The device's phases of a run (the Detail of ReproGetProgressOs).
const char* DetailName(uint32_t detail) {
    switch (detail) {
        case 0: return "no run";
        case 1: return "erasing";
        case 2: return "writing";
        case 3: return "checking";
        case 4: return "done";
        case 5: return "verification mismatch";
        default: return "phase " ;
    }
}

std::string DetailText(uint32_t detail) {
    const std::string name = DetailName(detail);
    return detail > 5 ? name + std::to_string(detail) : name;
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

std::string AsciiField(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n && p[i]; ++i) s.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?');
    return s;
}

std::string Bar(uint32_t percent) {
    const uint32_t p = percent > 100 ? 100 : percent;
    const size_t filled = p * 24 / 100;
    char text[16];
    std::snprintf(text, sizeof text, "%3u%%", p);
    return "[" + std::string(filled, '#') + std::string(24 - filled, '-') + "] " + text;
}

int Status(Context& ctx) {
    uint32_t progress = 0, detail = 0;
    const uint32_t progressRc = ReproGetProgressOs(&progress, &detail);
    if (IsLibraryCode(progressRc)) return ctx.out.Fail(ResultFailure(progressRc, "cannot read the progress"));
    const uint32_t condition = ReproGetToolConditionOs();
    if (IsLibraryCode(condition)) return ctx.out.Fail(ResultFailure(condition, "cannot read the tool's condition"));
    const uint32_t voltage = ReproCheckVoltage();
    if (IsLibraryCode(voltage)) return ctx.out.Fail(ResultFailure(voltage, "cannot check the voltage"));

    std::vector<SystemListEntry> list(kMaxSystems);
    std::memset(list.data(), 0, list.size() * sizeof(SystemListEntry));
    uint32_t count = kMaxSystems;
    const uint32_t listRc = ReproGetSystemListOs(list.data(), &count);
    if (IsLibraryCode(listRc)) return ctx.out.Fail(ResultFailure(listRc, "cannot read the system list"));

    Json systems = Json::Array();
    const bool haveList = listRc == 0 && count <= kMaxSystems;
    if (haveList) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* b = list[i].Bytes;
            Json s = Json::Object();
            s.Set("system", Le32(b));
            s.Set("flags", Le32(b + 4));
            s.Set("name", AsciiField(b + 8, 36));
            systems.Push(s);
        }
    }
    const bool running = progressRc == 0 && detail != 4 && detail != 5 && progress < 100;
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        Json run = Json::Object();
        run.Set("result", progressRc);
        run.Set("known", progressRc == 0);
        run.Set("running", running);
        run.Set("progress", progress);
        run.Set("detail", detail);
        run.Set("phase", DetailText(detail));
        j.Set("run", run);
        j.Set("toolCondition", condition);
        j.Set("voltageCheck", voltage);
        j.Set("systems", systems);
        if (!haveList) j.Set("systemListResult", listRc);
        return ctx.out.Done(j);
    }
    if (progressRc == 0)
        ctx.out.Line("Run          " + Bar(progress) + "  " + DetailText(detail) + (running ? " (running)" : ""));
    else
        ctx.out.Line("Run          none (device result " + Hex32(progressRc) + ")");
    ctx.out.Line("Tool         condition " + std::to_string(condition));
    ctx.out.Line("Voltage      " + std::string(voltage == 0 ? "good for reprogramming" : "not good (" + Hex32(voltage) + ")"));
    if (haveList) {
        ctx.out.Line("Systems      " + std::to_string(count));
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* b = list[i].Bytes;
            const uint32_t flags = Le32(b + 4);
            ctx.out.Line("  " + std::to_string(Le32(b)) + "  " + AsciiField(b + 8, 36) +
                         ((flags & 2) ? "  (needs parent software information)" : ""));
        }
    } else {
        ctx.out.Line("Systems      not available (device result " + Hex32(listRc) + ")");
    }
    return kExitOk;
}

int Watch(Context& ctx, double timeoutSeconds) {
    const SteadyClock::time_point start = SteadyClock::now();
    Json samples = Json::Array();
    uint32_t lastShown = 1000, lastDetail = 1000;
    uint32_t progress = 0, detail = 0;
    for (;;) {
        const uint32_t rc = ReproGetProgressOs(&progress, &detail);
        const double t = std::chrono::duration<double>(SteadyClock::now() - start).count();
        if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "no reprogramming progress"));
        if (progress / 10 != lastShown / 10 || detail != lastDetail || progress == 100) {
            char head[32];
            std::snprintf(head, sizeof head, "%6.2f s  ", t);
            if (progress != lastShown || detail != lastDetail) ctx.out.Line(head + Bar(progress) + "  " + DetailText(detail));
            Json s = Json::Object();
            s.Set("t", t);
            s.Set("progress", progress);
            s.Set("detail", detail);
            samples.Push(s);
            lastShown = progress;
            lastDetail = detail;
        }
        if (progress >= 100 || detail == 4 || detail == 5) break;
        if (t > timeoutSeconds) {
            Failure f = DeviceErrorFailure(0, "the reprogramming did not end");
            f.message = "It is still running after " + std::to_string(static_cast<int>(timeoutSeconds)) + " s.";
            return ctx.out.Fail(f);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));  // polling pace
    }
    if (detail == 5) {
        Failure f = DeviceErrorFailure(0, "verification failed");
        f.message = "The device found that the ECU's program differs from the data set.";
        return ctx.out.Fail(f);
    }
    Json j = Json::Object();
    j.Set("progress", progress);
    j.Set("detail", detail);
    j.Set("phase", DetailText(detail));
    j.Set("samples", samples);
    return ctx.out.Done(j);
}

int StartRun(Context& ctx, const ParsedArgs& p, double timeout) {
    if (p.positional.size() != 2) return ctx.out.Usage("repro start NAME --system N [--verify] [--watch]");
    uint32_t system = 0;
    if (!p.HasValue("--system") || !ParseUint32(p.Value("--system"), &system))
        return ctx.out.Usage("repro start needs --system N");
    const bool verify = p.Has("--verify");
    uint32_t rc = ReproCheckVoltage();
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "the supply voltage is not good for reprogramming"));
    rc = ReproControlWfseLine(1);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot switch the reprogramming line on"));
    const WString name = ToWide(p.positional[1]);
    rc = verify ? ReproVerify(name.c_str(), system, 0, 0) : ReproReprogramming(name.c_str(), system, 0, 0);
    if (rc != 0)
        return ctx.out.Fail(ResultFailure(rc, std::string("cannot start the ") + (verify ? "verification" : "reprogramming")));
    ctx.out.Line(std::string(verify ? "verification" : "reprogramming") + " of system " + std::to_string(system) +
                 " with " + p.positional[1] + " started");
    if (p.Has("--watch")) return Watch(ctx, timeout);
    Json j = Json::Object();
    j.Set("started", true);
    j.Set("system", system);
    j.Set("name", p.positional[1]);
    j.Set("verify", verify);
    return ctx.out.Done(j);
}

}  // namespace

int CmdRepro(Context& ctx, const std::vector<std::string>& args) {
    ArgSpec shape;
    shape.values = {"--timeout", "--system"};
    shape.flags = {"--verify", "--watch"};
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    if (p.positional.empty()) return ctx.out.Usage("repro status|watch|start ...");
    double timeout = 600;
    if (p.HasValue("--timeout")) {
        const std::string v = p.Value("--timeout");
        char* end = nullptr;
        timeout = std::strtod(v.c_str(), &end);
        if (end == v.c_str() || *end != 0 || timeout <= 0) return ctx.out.Usage("--timeout needs seconds");
    }
    const std::string& verb = p.positional[0];
    if (verb == "status") {
        if (p.positional.size() != 1) return ctx.out.Usage("repro status takes no arguments");
        return Status(ctx);
    }
    if (verb == "watch") {
        if (p.positional.size() != 1) return ctx.out.Usage("repro watch [--timeout SEC]");
        return Watch(ctx, timeout);
    }
    if (verb == "start") return StartRun(ctx, p, timeout);
    return ctx.out.Usage("unknown repro command '" + verb + "'");
}

}  // namespace cli
