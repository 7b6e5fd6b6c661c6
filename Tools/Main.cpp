// The vantro tool: global options, the command table and the help texts.
#include "Tools/Main.h"

#include <exception>
#include <fstream>
#include <iostream>
#include <memory>

#include "Tools/Cli.h"
#include "Tools/Platform.h"
#include "Tools/SimHost.h"
#include "vantro/vantro.h"

namespace cli {

namespace {

const char kVersion[] = "1.0.0";

struct CommandHelp {
    const char* name;
    const char* text;
};

const char kHelpHead[] =
    "Usage: vantro [global options] COMMAND [arguments]\n"
    "\n"
    "Drives a Vantro vehicle-interface device through the Vantro library: device\n"
    "information, files, registry, clock, log, firmware update, J2534 and OBD-II,\n"
    "reprogramming progress.\n"
    "\n"
    "Global options (anywhere on the line):\n"
    "  --json             print one JSON document (for scripts) instead of text\n"
    "  --sim              run against a simulated device started inside the tool (on\n"
    "                     the simulated USB bus, with a temporary file system seeded\n"
    "                     with sample files): no hardware needed\n"
    "  --sim-fault RULE   with --sim: inject a fault (rules as in vantro-sim --help,\n"
    "                     e.g. refuse=0x1234@code=3); repeatable\n"
    "  --sim-trace        with --sim: print every frame on the error output\n"
    "  --progress         show progress bars also when the error output is not a\n"
    "                     terminal (a line at every quarter)\n"
    "  --no-progress      never show progress bars\n"
    "  -v, --verbose      print every error the library reports\n"
    "  -h, --help         this text; vantro COMMAND --help for one command\n"
    "  --version          the tool's version\n"
    "Without --sim the tool uses whatever device the library finds (USB first, then\n"
    "the COM ports).\n";

const CommandHelp kCommandHelp[] = {
    {"info",
     "Device:\n"
     "  info                          versions, mode, supply voltages, AC status, the\n"
     "                                link in use (USB or COM), VIM information\n"},
    {"files",
     "Files on the device (paths as \\Data\\a.bin or Data/a.bin):\n"
     "  ls [PATH|PATTERN]             list a folder (default \\) or the files matching\n"
     "                                a pattern with * and ?\n"
     "  get DEVICE_FILE [PC_FILE]     copy a device file to the PC (progress bar)\n"
     "  put PC_FILE [DEVICE_FILE]     copy a PC file to the device (progress bar;\n"
     "                                default: the PC file's name in \\)\n"
     "  rm FILE...                    delete files\n"
     "  mkdir DIR, rmdir DIR          create or remove a folder\n"
     "  cp SRC DST [--no-clobber]     copy a file on the device\n"
     "  mv SRC DST                    rename or move a file or folder on the device\n"
     "  stat PATH                     attributes, size and times\n"
     "  df [PATH]                     free and total space of the volume\n"},
    {"reg",
     "Registry (KEY as HKLM\\Software\\Vantro; roots HKLM, HKCU, HKCR, HKU or their\n"
     "HKEY_... names):\n"
     "  reg get KEY NAME              read a value\n"
     "  reg set KEY NAME DATA [--type sz|expand_sz|multi_sz|dword|qword|binary]\n"
     "                                write a value (the key is created; default sz;\n"
     "                                binary DATA in hex, multi_sz parts split by |)\n"
     "  reg delete KEY [NAME]         delete a value, or the key itself without NAME\n"
     "  reg list KEY [NAME...]        open the key and show the values named (the\n"
     "                                device offers no enumeration)\n"},
    {"time",
     "Clock:\n"
     "  time [show]                   the device's UTC time, local time and time zone\n"
     "  time set \"YYYY-MM-DD HH:MM:SS\" [--local]\n"
     "                                set the device's UTC (or local) time\n"
     "  time sync                     set the device's UTC time from the PC's clock\n"},
    {"log",
     "Device log:\n"
     "  log start NAME                start the device's log under a name\n"
     "  log stop | log clear          stop it, empty it\n"
     "  log write DEVICE_FILE         write the log out to a device file\n"
     "  log add MESSAGE               add a message\n"},
    {"firmware",
     "Firmware update:\n"
     "  firmware FILE [--name DEVICE_NAME] [--param N] [--keep]\n"
     "                                send the image (progress bar), check its\n"
     "                                checksum and have the device write it (default\n"
     "                                name \\Firmware\\<file name>, write parameter 0);\n"
     "                                the device's copy is released unless --keep\n"},
    {"j2534",
     "J2534 (the pass-thru interface):\n"
     "  j2534 version                 firmware, library and API versions, battery and\n"
     "                                programming voltage\n"
     "  j2534 trace [options]         open, connect a protocol, set filters, start\n"
     "                                periodic messages, send, and show every message\n"
     "                                that arrives (time, id, data)\n"
     "    --protocol NAME             ISO15765 (default), CAN, ISO9141, ISO14230,\n"
     "                                J1850VPW, J1850PWM\n"
     "    --baud N                    default 500000 (CAN, ISO15765), 10400 (K-line),\n"
     "                                10400 (VPW), 41600 (PWM)\n"
     "    --flags N                   PassThruConnect flags (CAN_29BIT_ID 0x100, ...)\n"
     "    --pass MASK,PATTERN         a pass filter (hex bytes); repeatable\n"
     "    --block MASK,PATTERN        a block filter; repeatable\n"
     "    --flow MASK,PATTERN,FLOW    a flow-control filter (ISO15765); repeatable\n"
     "    --send MSG                  send a message: ID#DATA (7E0#0902, 18DB33F1#0100)\n"
     "                                or plain hex bytes; repeatable\n"
     "    --periodic MSG@MS           a periodic message every MS ms; repeatable\n"
     "    --duration SEC              how long to listen (default 2)\n"
     "    --count N                   stop after N messages\n"
     "    --loopback                  also receive the messages sent (LOOPBACK 1)\n"
     "  Without filters: CAN passes everything, ISO15765 pairs 7E8-7EF with 7E0-7E7.\n"},
    {"obd",
     "OBD-II over ISO 15765 (11-bit identifiers, 500 kbit/s):\n"
     "  obd pids                      the supported PIDs of each ECU\n"
     "  obd live [--pid PID]... [--samples N] [--interval MS]\n"
     "                                live values (default: engine speed, coolant,\n"
     "                                vehicle speed, load, throttle), N samples\n"
     "  obd dtc                       stored and pending trouble codes, MIL\n"
     "  obd vin                       the vehicle identification number\n"},
    {"script",
     "Scripts:\n"
     "  script FILE                   run the commands of FILE (- for the standard\n"
     "                                input), one per line, against one device (with\n"
     "                                --sim: one simulator for all); '#' starts a\n"
     "                                comment, quotes group words; stops at the first\n"
     "                                failing line with its exit code\n"},
    {"repro",
     "Reprogramming:\n"
     "  repro status                  the systems, the tool's condition and the\n"
     "                                progress of the current run\n"
     "  repro watch [--timeout SEC]   follow a running reprogramming to its end\n"
     "  repro start NAME --system N [--verify] [--watch]\n"
     "                                check the voltage, switch the control line on and\n"
     "                                start a reprogramming (or verification) run\n"},
};

const char kHelpTail[] =
    "Exit codes:\n"
    "  0  success\n"
    "  1  device error: the device answered, and refused or failed the operation\n"
    "  2  usage error: the command line is wrong\n"
    "  3  transport error: no device, the link failed, time-outs, malformed answers\n"
    "  4  PC-side error: a PC file cannot be read or written, the simulator cannot\n"
    "     start\n"
    "Errors show the code, its name and a sentence; with --json they are the\n"
    "document: {\"ok\": false, \"error\": {\"kind\", \"code\", \"hex\", \"name\",\n"
    "\"message\", \"what\"}, \"exitCode\"}.\n";

// Help group of a command name.
const char* HelpGroupOf(const std::string& command) {
    if (IsFilesCommand(command)) return "files";
    return command.c_str();
}

const char* CommandHelpText(const std::string& command) {
    const std::string group = HelpGroupOf(command);
    for (const CommandHelp& h : kCommandHelp)
        if (group == h.name) return h.text;
    return nullptr;
}

struct GlobalOptions {
    bool json = false;
    bool sim = false;
    bool simTrace = false;
    bool help = false;
    bool version = false;
    bool verbose = false;
    int progress = 0;  // -1 never, 0 terminal only, 1 always
    std::vector<std::string> faults;
    std::vector<std::string> rest;  // the command and its arguments
};

bool ParseGlobal(const std::vector<std::string>& args, GlobalOptions* g, std::string* error) {
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
            g->rest.push_back(a);
            continue;
        }
        if (!options) {
            g->rest.push_back(a);
            continue;
        }
        if (a == "--json") {
            g->json = true;
        } else if (a == "--sim") {
            g->sim = true;
        } else if (a == "--sim-trace") {
            g->simTrace = true;
        } else if (a == "--progress") {
            g->progress = 1;
        } else if (a == "--no-progress") {
            g->progress = -1;
        } else if (a == "-v" || a == "--verbose") {
            g->verbose = true;
        } else if (a == "-h" || a == "--help") {
            g->help = true;
        } else if (a == "--version") {
            g->version = true;
        } else if (a == "--sim-fault") {
            if (i + 1 >= args.size()) {
                *error = "--sim-fault needs a rule";
                return false;
            }
            g->faults.push_back(args[++i]);
        } else if (a.compare(0, 12, "--sim-fault=") == 0) {
            g->faults.push_back(a.substr(12));
        } else {
            g->rest.push_back(a);
        }
    }
    if ((g->simTrace || !g->faults.empty()) && !g->sim) {
        *error = "--sim-fault and --sim-trace need --sim";
        return false;
    }
    return true;
}

int RunScript(Context& ctx, const std::vector<std::string>& args);

int Dispatch(Context& ctx, const std::string& command, const std::vector<std::string>& args) {
    if (command == "script") return RunScript(ctx, args);
    if (command == "info") return CmdInfo(ctx, args);
    if (IsFilesCommand(command)) return CmdFiles(ctx, command, args);
    if (command == "reg") return CmdRegistry(ctx, args);
    if (command == "time") return CmdTime(ctx, args);
    if (command == "log") return CmdLog(ctx, args);
    if (command == "firmware") return CmdFirmware(ctx, args);
    if (command == "j2534") return CmdJ2534(ctx, args);
    if (command == "obd") return CmdObd(ctx, args);
    if (command == "repro") return CmdRepro(ctx, args);
    return ctx.out.Usage("unknown command '" + command + "'");
}

// Splits a script line into words: blanks separate them, '...' and "..."
// quote. A backslash is an ordinary character (device paths have them).
bool SplitLine(const std::string& line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                word.push_back(c);
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words->push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '#' && !inWord) {
            break;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (quote) {
        *error = "unterminated quote";
        return false;
    }
    if (inWord) words->push_back(word);
    return true;
}

int RunScript(Context& ctx, const std::vector<std::string>& args) {
    if (args.size() != 1) return ctx.out.Usage("script FILE");
    std::ifstream file;
    std::istream* in = &std::cin;
    if (args[0] != "-") {
        file.open(args[0]);
        if (!file) return ctx.out.Fail(LocalFailure("cannot read the script " + args[0]));
        in = &file;
    }
    std::string line;
    int number = 0;
    while (std::getline(*in, line)) {
        ++number;
        std::vector<std::string> words;
        std::string error;
        if (!SplitLine(line, &words, &error))
            return ctx.out.Usage("script line " + std::to_string(number) + ": " + error);
        if (!words.empty() && words[0] == "vantro") words.erase(words.begin());
        if (words.empty()) continue;
        for (const std::string& w : words) {
            if (w == "--json" || w == "--sim" || w == "--sim-trace" || w == "--sim-fault" || w == "--progress" ||
                w == "--no-progress" || w == "--verbose" || w == "-v")
                return ctx.out.Usage("script line " + std::to_string(number) + ": " + w +
                                     " goes on the command line of the script, not on its lines");
        }
        if (words[0] == "script") return ctx.out.Usage("script line " + std::to_string(number) + ": scripts do not nest");
        std::string shown = "$ vantro";
        for (const std::string& w : words) shown += " " + (w.find(' ') == std::string::npos ? w : "\"" + w + "\"");
        ctx.out.Line(shown);
        const int code = Dispatch(ctx, words[0], std::vector<std::string>(words.begin() + 1, words.end()));
        if (code != kExitOk) return code;
        ctx.out.Line("");
    }
    return kExitOk;
}

}  // namespace

std::string HelpText() {
    std::string text = kHelpHead;
    text += "\nCommands:\n\n";
    for (const CommandHelp& h : kCommandHelp) {
        text += h.text;
        text += "\n";
    }
    text += kHelpTail;
    return text;
}

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    auto it = values.find(name);
    return it == values.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& ParsedArgs::All(const std::string& name) const {
    static const std::vector<std::string> kNone;
    auto it = values.find(name);
    return it == values.end() ? kNone : it->second;
}

bool ParseArgs(const std::vector<std::string>& args, const ArgSpec& shape, ParsedArgs* out, std::string* error) {
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (!options || a.size() < 2 || a[0] != '-' || (a[1] >= '0' && a[1] <= '9')) {
            out->positional.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (shape.flags.count(name)) {
            if (eq != std::string::npos) {
                *error = name + " takes no value";
                return false;
            }
            out->flags.insert(name);
        } else if (shape.values.count(name)) {
            if (eq != std::string::npos) {
                out->values[name].push_back(a.substr(eq + 1));
            } else if (i + 1 < args.size()) {
                out->values[name].push_back(args[++i]);
            } else {
                *error = name + " needs a value";
                return false;
            }
        } else {
            *error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

Failure Context::CallFailure(uint64_t mark, const std::string& what) {
    uint32_t code = 0;
    if (reports.LastSince(mark, &code)) return ResultFailure(code, what);
    // The exchange went through: ask the device why it said no.
    const uint32_t error = KovGetLastError();
    return IsLibraryCode(error) ? ResultFailure(error, what) : DeviceErrorFailure(error, what);
}

int RunVantro(const std::vector<std::string>& args, std::ostream& outStream, std::ostream& errStream) {
    GlobalOptions g;
    std::string error;
    const bool parsed = ParseGlobal(args, &g, &error);
    Output out(outStream, errStream, g.json);
    if (!parsed) return out.Usage(error);
    if (g.version) {
        if (g.json) {
            Json v = Json::Object();
            v.Set("version", kVersion);
            return out.Done(v);
        }
        outStream << "vantro " << kVersion << '\n';
        return kExitOk;
    }
    if (g.help) {
        const char* text = g.rest.empty() ? nullptr : CommandHelpText(g.rest[0]);
        outStream << (text ? std::string(text) : HelpText());
        return kExitOk;
    }
    if (g.rest.empty()) return out.Usage("no command given");
    const std::string command = g.rest[0];
    std::vector<std::string> commandArgs(g.rest.begin() + 1, g.rest.end());
    if (command == "help") {
        const char* text = commandArgs.empty() ? nullptr : CommandHelpText(commandArgs[0]);
        outStream << (text ? std::string(text) : HelpText());
        return kExitOk;
    }

    LibraryReports reports(g.verbose ? &errStream : nullptr);
    Context ctx{out, reports};
    if (g.json || g.progress < 0)
        ctx.progress = ProgressMode::Off;
    else if (StderrIsTerminal())
        ctx.progress = ProgressMode::Terminal;
    else
        ctx.progress = g.progress > 0 ? ProgressMode::Lines : ProgressMode::Off;

    std::unique_ptr<SimHost> host;
    if (g.sim) {
        host.reset(new SimHost);
        SimOptions options;
        options.faults = g.faults;
        options.trace = g.simTrace ? &errStream : nullptr;
        if (!host->Start(options, &error)) {
            const bool badRule = error.compare(0, 14, "bad fault rule") == 0;
            return out.Fail(badRule ? UsageFailure(error) : LocalFailure("the simulator cannot start: " + error));
        }
        ctx.sim = host.get();
    }

    int code;
    try {
        code = Dispatch(ctx, command, commandArgs);
    } catch (const std::exception& e) {
        code = out.Fail(LocalFailure(std::string("internal error: ") + e.what()));
    }
    if (host) host->Stop();
    return code;
}

}  // namespace cli
