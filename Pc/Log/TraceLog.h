// The levelled trace log: lines go to the debugger output when their level
// bit is set in the settings file's "LOGLEVEL" (section "LOGSETTING").
#pragma once

#include <cstdint>

// Trace levels in use (bits of "LOGLEVEL").
constexpr uint32_t kTraceLevel16 = 16;
constexpr uint32_t kTraceLevel64 = 64;
constexpr uint32_t kTraceLevel128 = 128;
constexpr uint32_t kTraceLevel256 = 256;
constexpr uint32_t kTraceLevel512 = 512;
constexpr uint32_t kTraceLevel2048 = 2048;

// Writes one line "HH:MM:SS.mmm:TTTTTTTT  text\r\n" when level is enabled.
// The level mask is read from the settings file once, by the first call
// whose level is not enabled (at first nothing is), and that call writes
// nothing.
void TraceLog(uint32_t level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Test hook: forgets the level mask, so the next call that finds its level
// disabled reads the settings file again.
void TraceLogResetForTest();
