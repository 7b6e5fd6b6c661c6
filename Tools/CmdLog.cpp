// vantro log: the device's own log (start, stop, clear, write, add).
#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace cli {

int CmdLog(Context& ctx, const std::vector<std::string>& args) {
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, ArgSpec(), &p, &error)) return ctx.out.Usage(error);
    if (p.positional.empty()) return ctx.out.Usage("log start|stop|clear|write|add ...");
    const std::string& verb = p.positional[0];
    const size_t want = (verb == "stop" || verb == "clear") ? 1 : 2;
    if (p.positional.size() != want) {
        if (verb == "start") return ctx.out.Usage("log start NAME");
        if (verb == "write") return ctx.out.Usage("log write DEVICE_FILE");
        if (verb == "add") return ctx.out.Usage("log add MESSAGE");
        if (verb == "stop" || verb == "clear") return ctx.out.Usage("log " + verb + " takes no arguments");
        return ctx.out.Usage("unknown log command '" + verb + "'");
    }

    uint32_t rc;
    std::string what, text;
    Json j = Json::Object();
    j.Set("action", verb);
    if (verb == "start") {
        rc = KovLogInit(ToWide(p.positional[1]).c_str());
        what = "cannot start the device log";
        text = "device log started as " + p.positional[1];
        j.Set("name", p.positional[1]);
    } else if (verb == "stop") {
        rc = KovLogClose();
        what = "cannot stop the device log";
        text = "device log stopped";
    } else if (verb == "clear") {
        rc = KovLogClear();
        what = "cannot clear the device log";
        text = "device log cleared";
    } else if (verb == "write") {
        const std::string file = DevicePath(p.positional[1]);
        rc = KovLogFlash(ToWide(file).c_str());
        what = "cannot write the device log to " + file;
        text = "device log written to " + file;
        j.Set("file", file);
    } else if (verb == "add") {
        const std::string& message = p.positional[1];
        if (message.empty()) return ctx.out.Usage("log add needs a message");
        rc = KovLogPutMsg(reinterpret_cast<const uint8_t*>(message.data()), static_cast<uint32_t>(message.size()));
        what = "cannot add the message to the device log";
        text = "message added to the device log (" + std::to_string(message.size()) + " bytes)";
        j.Set("bytes", message.size());
    } else {
        return ctx.out.Usage("unknown log command '" + verb + "'");
    }
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, what));
    ctx.out.Line(text);
    return ctx.out.Done(j);
}

}  // namespace cli
