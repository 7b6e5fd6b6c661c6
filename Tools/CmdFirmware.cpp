// vantro firmware FILE: sends a firmware image to the device with a progress
// bar, checks what arrived and has the device write it.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace fs = std::filesystem;

namespace cli {

namespace {

// The 8-bit sum of a PC file's bytes, as the device computes it.
bool Sum8(const std::string& path, uint8_t* sum) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char buffer[8192];
    uint8_t s = 0;
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize n = in.gcount();
        for (std::streamsize i = 0; i < n; ++i) s = static_cast<uint8_t>(s + static_cast<uint8_t>(buffer[i]));
    }
    *sum = s;
    return true;
}

}  // namespace

int CmdFirmware(Context& ctx, const std::vector<std::string>& args) {
    ArgSpec shape;
    shape.values = {"--name", "--param"};
    shape.flags = {"--keep"};
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    if (p.positional.size() != 1) return ctx.out.Usage("firmware FILE [--name DEVICE_NAME] [--param N] [--keep]");
    const std::string pc = p.positional[0];
    uint32_t param = 0;
    if (p.HasValue("--param") && !ParseUint32(p.Value("--param"), &param))
        return ctx.out.Usage("--param needs a number");
    const std::string device = DevicePath(p.Value("--name", "\\Firmware\\" + BaseName(pc)));

    std::error_code ec;
    uint8_t pcSum = 0;
    if (!fs::is_regular_file(pc, ec) || !Sum8(pc, &pcSum))
        return ctx.out.Fail(LocalFailure("cannot read the firmware image " + pc));
    const uint64_t size = fs::file_size(pc, ec);
    if (size > 0xFFFFFFFFull) return ctx.out.Fail(LocalFailure(pc + " is larger than 4 GiB"));

    ProgressBar bar(ctx.out.Err(), "firmware " + BaseName(pc), size, ctx.progress);
    uint32_t rc;
    {
        TransferProgressScope scope(bar);
        rc = KovVupPutFile(pc.c_str(), ToWide(device).c_str(), param);
    }
    bar.Finish(rc == 0);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "the firmware update with " + pc + " failed"));

    // What the device holds now.
    uint8_t name[520];
    uint32_t info1 = 0, received = 0, info2 = 0;
    uint8_t deviceSum = 0;
    std::memset(name, 0, sizeof name);
    const uint32_t infoRc = KovVupGetFileInfo(name, sizeof name, &info1, &received, &deviceSum, &info2);
    uint32_t freeRc = 0;
    if (!p.Has("--keep")) freeRc = KovVupFileFree();

    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("file", pc);
        j.Set("device", device);
        j.Set("bytes", size);
        j.Set("checksum", static_cast<uint32_t>(pcSum));
        j.Set("seconds", bar.Seconds());
        Json progress = Json::Object();
        progress.Set("calls", bar.Calls());
        progress.Set("done", bar.Done());
        progress.Set("total", bar.Total());
        j.Set("progress", progress);
        if (infoRc == 0) {
            Json info = Json::Object();
            info.Set("name", Utf16BytesToUtf8(name, sizeof name));
            info.Set("announced", info1);
            info.Set("received", received);
            info.Set("checksum", static_cast<uint32_t>(deviceSum));
            info.Set("state", info2);
            j.Set("deviceFile", info);
        }
        j.Set("released", !p.Has("--keep") && freeRc == 0);
        return ctx.out.Done(j);
    }
    char sums[64];
    std::snprintf(sums, sizeof sums, "checksum 0x%02X", pcSum);
    ctx.out.Line("firmware " + pc + " -> " + device + ": " + HumanBytes(size) + " sent, " + sums + " verified, written");
    if (infoRc == 0) {
        std::snprintf(sums, sizeof sums, "0x%02X", deviceSum);
        ctx.out.Line("device holds " + Utf16BytesToUtf8(name, sizeof name) + ": " + std::to_string(received) + " of " +
                     std::to_string(info1) + " bytes, checksum " + sums + ", state " + std::to_string(info2));
    }
    if (!p.Has("--keep")) ctx.out.Line(freeRc == 0 ? "device copy released" : "the device's copy was not released");
    return kExitOk;
}

}  // namespace cli
