// What every command of the vantro tool gets, and the commands themselves.
//
// A command takes the arguments after its name and returns the exit code
// (Output.h). It prints through ctx.out: text lines for people, or one JSON
// document with --json.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Tools/Output.h"
#include "Tools/Progress.h"

namespace cli {

class SimHost;

struct Context {
    Output& out;
    LibraryReports& reports;
    ProgressMode progress = ProgressMode::Off;
    SimHost* sim = nullptr;  // the embedded simulator (--sim), else null

    // A failure of an export that only answers yes or no (or 0 for no
    // handle), called right after it: when the library reported a code since
    // `mark` the exchange failed (transport); otherwise the device said no,
    // and its last error (KovGetLastError) gives the reason.
    Failure CallFailure(uint64_t mark, const std::string& what);
};

// Options of one command: the names that take a value and the flags.
struct ArgSpec {
    std::set<std::string> values;  // "--name"
    std::set<std::string> flags;   // "--flag"
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;
    std::set<std::string> flags;

    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
    // The last value given for an option, or fallback.
    std::string Value(const std::string& name, const std::string& fallback = std::string()) const;
    bool HasValue(const std::string& name) const { return values.count(name) != 0; }
    const std::vector<std::string>& All(const std::string& name) const;
};

// "--name value", "--name=value" and flags; "--" ends the options. False with
// a message for an unknown option or a missing value.
bool ParseArgs(const std::vector<std::string>& args, const ArgSpec& shape, ParsedArgs* out, std::string* error);

// The commands (one file each group).
int CmdInfo(Context& ctx, const std::vector<std::string>& args);
int CmdFiles(Context& ctx, const std::string& name, const std::vector<std::string>& args);
int CmdRegistry(Context& ctx, const std::vector<std::string>& args);
int CmdTime(Context& ctx, const std::vector<std::string>& args);
int CmdLog(Context& ctx, const std::vector<std::string>& args);
int CmdFirmware(Context& ctx, const std::vector<std::string>& args);
int CmdJ2534(Context& ctx, const std::vector<std::string>& args);
int CmdObd(Context& ctx, const std::vector<std::string>& args);
int CmdRepro(Context& ctx, const std::vector<std::string>& args);

// The file commands' names (ls, get, put, ...).
bool IsFilesCommand(const std::string& name);

}  // namespace cli
