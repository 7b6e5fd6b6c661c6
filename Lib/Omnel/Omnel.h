// The reporting library: error reports and exchange traces.
//
// ErrReportf(code, "[PC]%s(%d):...", sourcePath, line, ...) is called once at
// every place where the library detects a failure. ComReport(0, 0, bytes, n)
// traces the bytes of a command exchange.
//
// Where the output goes: both write to the debugger output (OsDebug.h) when
// the settings file's section "LOGSETTING" enables them: key "ERRREPORT"
// nonzero for error reports, key "COMREPORT" nonzero for exchange traces.
// Both keys are read once per process. Tests capture every report and every
// trace through the hooks below, whatever the settings say.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

void ErrReportf(uint32_t code, const char* format, ...);
void ComReport(uint16_t kind, uint32_t tag, const char* data, uint32_t length);

namespace omnel {

struct Report {
    uint32_t code;
    std::string path;  // source path from the "[PC]%s(%d):" prefix, else ""
    int line;          // its line, else 0
    std::string text;  // the whole formatted text
};

// Hooks for tests; null removes them. Called on the reporting thread.
void SetReportHook(std::function<void(const Report&)> hook);
void SetTraceHook(std::function<void(const uint8_t* data, uint32_t length)> hook);

// Forgets the settings read so far (tests).
void ResetSettings();

}  // namespace omnel
