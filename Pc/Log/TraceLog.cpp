// The trace log (see TraceLog.h).
//
// A line is 1024 bytes: the prefix "%02d:%02d:%02d.%03d:%08X      " (hours
// not wrapped at 24, minutes, seconds, milliseconds of the tick count, the
// thread id), then the caller's text written from character 23 on, over the
// end of the prefix, then "\r\n". A text longer than 998 characters is cut
// after its 998th, so that the text, "\r\n" and the terminating zero fit the
// line.
#include "Pc/Log/TraceLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsSettings.h"
#include "Pc/Os/OsThread.h"

namespace {

constexpr size_t kLineSize = 1024;
constexpr size_t kTextColumn = 23;
// Room for the text: the line less the prefix columns, "\r\n" and the zero.
constexpr size_t kTextRoom = kLineSize - kTextColumn - 2 - 1;

std::atomic<uint32_t> g_logLevel{0};
std::atomic<bool> g_levelRead{false};

}  // namespace

void TraceLog(uint32_t level, const char* format, ...) {
    if ((g_logLevel.load(std::memory_order_acquire) & level) == 0) {
        if (!g_levelRead.exchange(true)) {
            const std::string path = vos::SettingsFilePath();
            g_logLevel.store(vos::ProfileGetInt("LOGSETTING", "LOGLEVEL", 0, path.c_str()),
                             std::memory_order_release);
        }
        return;
    }
    if (!format) return;

    const uint32_t ticks = vos::OsGetTickCount();
    char line[kLineSize];
    std::snprintf(line, sizeof line, "%02d:%02d:%02d.%03d:%08X      ", static_cast<int>(ticks / 3600000u),
                  static_cast<int>(ticks / 60000u % 60u), static_cast<int>(ticks / 1000u % 60u),
                  static_cast<int>(ticks % 1000u), vos::ThreadCurrentId());

    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line + kTextColumn, kTextRoom + 1, format, args);
    va_end(args);
    size_t textLength = n < 0 ? 0 : (static_cast<size_t>(n) > kTextRoom ? kTextRoom : static_cast<size_t>(n));
    line[kTextColumn + textLength] = 0;
    std::memcpy(line + kTextColumn + textLength, "\r\n", 3);
    vos::DebugOutput(line);
}

void TraceLogResetForTest() {
    g_logLevel.store(0);
    g_levelRead.store(false);
}
