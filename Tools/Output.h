// How the vantro tool reports: text for people or JSON for scripts, errors
// with their code, name and a plain sentence, and the exit codes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

#include "Tools/Json.h"

namespace cli {

// Exit codes (listed in `vantro --help` and docs/ERRORS.md).
enum ExitCode : int {
    kExitOk = 0,
    kExitDevice = 1,     // the device answered: it refused or the operation failed there
    kExitUsage = 2,      // the command line is wrong
    kExitTransport = 3,  // no device, the link failed, time-outs, malformed answers
    kExitLocal = 4,      // a PC-side problem: a PC file, memory, the simulator
};

// "device", "usage", "transport", "local" ("ok" for 0).
const char* ExitKindName(int exitCode);

struct Failure {
    int exitCode = kExitDevice;
    std::string what;        // what was being done: "cannot delete \Data\a.bin"
    bool hasCode = false;
    uint32_t code = 0;
    std::string codeName;    // QXR_ERROR_SEND_TIMEOUT, ERR_TIMEOUT, ERROR_FILE_NOT_FOUND, ...
    std::string message;     // a plain sentence
};

// A result code that an export returned: one of the library's own codes
// (0x900d..../0xa00d....) or the device's result (a Win32 error number or
// the device's own code).
Failure ResultFailure(uint32_t code, const std::string& what);
// An error number the device reported (KovGetLastError, registry results);
// 0 means the device gave no reason.
Failure DeviceErrorFailure(uint32_t error, const std::string& what);
// A J2534 status with the text PassThruGetLastError gave.
Failure J2534Failure(uint32_t status, const std::string& lastError, const std::string& what);
Failure UsageFailure(const std::string& message);
Failure LocalFailure(const std::string& message);

// Whether a code is one of the library's own (upper half 0x900d or 0xa00d).
bool IsLibraryCode(uint32_t code);
// Name and sentence of a library code; null name when unknown.
const char* LibraryCodeSentence(uint32_t code);
// Win32 error names the device uses ("ERROR_FILE_NOT_FOUND"); null if unknown.
const char* Win32ErrorName(uint32_t error);
// J2534 status names ("ERR_TIMEOUT") and sentences; null if unknown.
const char* J2534StatusName(uint32_t status);
const char* J2534StatusSentence(uint32_t status);

class Output {
public:
    Output(std::ostream& out, std::ostream& err, bool json) : m_out(out), m_err(err), m_json(json) {}

    bool IsJson() const { return m_json; }
    std::ostream& Out() { return m_out; }
    std::ostream& Err() { return m_err; }

    // Text mode: one line on the standard output. Nothing in JSON mode.
    void Line(const std::string& text);
    // JSON mode: the command's result (an object gets "ok": true first).
    // Returns kExitOk.
    int Done(Json result);
    // Prints the failure (JSON: on the standard output as the result; text:
    // on the error output) and returns its exit code.
    int Fail(const Failure& failure);
    int Usage(const std::string& message) { return Fail(UsageFailure(message)); }

private:
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_json;
};

// Watches the library's error reports while the tool runs, so that a call
// that only answers yes or no can tell a failed exchange (the library
// reported a code) from the device's "no". With a verbose stream, every
// report is also printed there.
class LibraryReports {
public:
    explicit LibraryReports(std::ostream* verbose);
    ~LibraryReports();
    LibraryReports(const LibraryReports&) = delete;
    LibraryReports& operator=(const LibraryReports&) = delete;

    uint64_t Mark() const { return m_count.load(); }
    // The last code reported since mark; false when none was.
    bool LastSince(uint64_t mark, uint32_t* code) const;

private:
    std::atomic<uint64_t> m_count{0};
    std::atomic<uint32_t> m_last{0};
    std::ostream* m_verbose;
    std::mutex m_lock;
};

}  // namespace cli
