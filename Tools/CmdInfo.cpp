// vantro info: what the device says about itself, and the link in use.
#include <cstdio>
#include <cstring>

#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace cli {

namespace {

const char* LinkName(uint32_t device) {
    switch (device) {
        case VANTRO_COMM_USB: return "USB";
        case VANTRO_COMM_SERIAL: return "COM";
        default: return "none";
    }
}

std::string VersionNumber(uint16_t v1, uint16_t v2) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u", v1 >> 8, v1 & 0xFF, v2);
    return text;
}

std::string Volts(uint32_t millivolts) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f V", millivolts / 1000.0);
    return text;
}

}  // namespace

int CmdInfo(Context& ctx, const std::vector<std::string>& args) {
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, ArgSpec(), &p, &error)) return ctx.out.Usage(error);
    if (!p.positional.empty()) return ctx.out.Usage("info takes no arguments");

    // The version is the first exchange: it decides whether there is a device.
    const WString system = ToWide("");
    uint16_t v1 = 0, v2 = 0;
    uint8_t texts[4][VANTRO_VERSION_TEXT_SIZE];
    std::memset(texts, 0, sizeof texts);
    uint32_t rc = KovGetVersion(system.c_str(), &v1, &v2, texts[0], texts[1], texts[2], texts[3]);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot read the device's version"));

    const uint32_t mode = KovGetMode();
    if (IsLibraryCode(mode)) return ctx.out.Fail(ResultFailure(mode, "cannot read the operating mode"));
    uint16_t supply = 0, internal = 0;
    rc = KovGetVoltage(0, &supply);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot read the supply voltage"));
    const bool haveInternal = KovGetVoltage(1, &internal) == 0;
    const uint32_t ac = KovGetAcStatus();
    if (IsLibraryCode(ac)) return ctx.out.Fail(ResultFailure(ac, "cannot read the AC status"));

    uint8_t pathBytes[520];
    uint32_t pathSize = sizeof pathBytes;
    std::string appPath;
    if (KovGetAppPath(pathBytes, &pathSize) == 0) appPath = Utf16BytesToUtf8(pathBytes, pathSize);

    uint32_t vim[VANTRO_VIM_INFO_COUNT] = {};
    const uint32_t vimRc = KovGetVimInfomation(0, vim);

    uint32_t link = 0;
    KovGetCommDevice(&link);

    const std::string product = Utf16BytesToUtf8(texts[0], sizeof texts[0]);
    const std::string firmware = Utf16BytesToUtf8(texts[1], sizeof texts[1]);
    const std::string serial = Utf16BytesToUtf8(texts[2], sizeof texts[2]);
    const std::string built = Utf16BytesToUtf8(texts[3], sizeof texts[3]);

    if (ctx.out.IsJson()) {
        Json version = Json::Object();
        version.Set("version1", v1);
        version.Set("version2", v2);
        version.Set("number", VersionNumber(v1, v2));
        Json t = Json::Array();
        for (int i = 0; i < 4; ++i) t.Push(Utf16BytesToUtf8(texts[i], sizeof texts[i]));
        version.Set("texts", t);
        Json j = Json::Object();
        j.Set("product", product);
        j.Set("firmware", firmware);
        j.Set("serial", serial);
        j.Set("buildDate", built);
        j.Set("version", version);
        j.Set("mode", mode);
        j.Set("supplyMillivolts", supply);
        if (haveInternal) j.Set("internalMillivolts", internal);
        j.Set("acStatus", ac);
        j.Set("appPath", appPath);
        j.Set("link", LinkName(link));
        j.Set("commDevice", link);
        Json vimJson = Json::Object();
        if (vimRc == 0) {
            vimJson.Set("mask", vim[0]);
            Json values = Json::Array();
            for (uint32_t i = 0; i < 8; ++i) values.Push((vim[0] >> i) & 1 ? Json(vim[1 + i]) : Json());
            vimJson.Set("values", values);
        } else {
            vimJson.Set("result", vimRc);
        }
        j.Set("vim", vimJson);
        if (ctx.sim) j.Set("simulated", true);
        return ctx.out.Done(j);
    }

    ctx.out.Line("Device        " + product + (ctx.sim ? " (simulated)" : ""));
    ctx.out.Line("Firmware      " + firmware + "  (version " + VersionNumber(v1, v2) + ")");
    ctx.out.Line("Serial        " + serial);
    ctx.out.Line("Built         " + built);
    if (!appPath.empty()) ctx.out.Line("Application   " + appPath);
    ctx.out.Line("Mode          " + std::to_string(mode));
    ctx.out.Line("Supply        " + Volts(supply) + (haveInternal ? "  (internal " + Volts(internal) + ")" : ""));
    ctx.out.Line("AC status     " + std::string(ac == 0 ? "off line" : ac == 1 ? "on line" : "unknown") + " (" +
                 std::to_string(ac) + ")");
    ctx.out.Line("Link          " + std::string(LinkName(link)));
    if (vimRc == 0) {
        std::string values;
        for (uint32_t i = 0; i < 8; ++i) {
            if (!((vim[0] >> i) & 1)) continue;
            if (!values.empty()) values += " ";
            values += "[" + std::to_string(i) + "]=" + Hex32(vim[1 + i]);
        }
        ctx.out.Line("VIM           mask " + Hex32(vim[0]) + (values.empty() ? "" : ": " + values));
    } else {
        const Failure f = ResultFailure(vimRc, "");
        ctx.out.Line("VIM           not available (" + (f.codeName.empty() ? Hex32(vimRc) : f.codeName) + ")");
    }
    return kExitOk;
}

}  // namespace cli
