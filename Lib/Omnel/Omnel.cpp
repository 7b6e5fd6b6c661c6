#include "Lib/Omnel/Omnel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsSettings.h"

namespace omnel {
namespace {

std::mutex g_hookLock;
std::function<void(const Report&)> g_reportHook;
std::function<void(const uint8_t*, uint32_t)> g_traceHook;

std::mutex g_settingsLock;
bool g_settingsRead = false;
bool g_errOut = false;
bool g_comOut = false;

// Reads the two switches once per process (again after ResetSettings).
void ReadSettings() {
    std::lock_guard<std::mutex> lock(g_settingsLock);
    if (g_settingsRead) return;
    std::string path = vos::SettingsFilePath();
    g_errOut = vos::ProfileGetInt("LOGSETTING", "ERRREPORT", 0, path.c_str()) != 0;
    g_comOut = vos::ProfileGetInt("LOGSETTING", "COMREPORT", 0, path.c_str()) != 0;
    g_settingsRead = true;
}

const char kPrefix[] = "[PC]%s(%d):";

}  // namespace

void SetReportHook(std::function<void(const Report&)> hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_reportHook = std::move(hook);
}

void SetTraceHook(std::function<void(const uint8_t*, uint32_t)> hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_traceHook = std::move(hook);
}

void ResetSettings() {
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settingsRead = false;
}

}  // namespace omnel

void ErrReportf(uint32_t code, const char* format, ...) {
    using namespace omnel;
    Report report{code, "", 0, ""};
    char text[1024] = {0};
    if (format) {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (std::strncmp(format, kPrefix, sizeof kPrefix - 1) == 0) {
            const char* path = va_arg(copy, const char*);
            int line = va_arg(copy, int);
            report.path = path ? path : "";
            report.line = line;
        }
        va_end(copy);
    }
    report.text = text;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        if (g_reportHook) g_reportHook(report);
    }
    ReadSettings();
    if (g_errOut) {
        char line[1100];
        std::snprintf(line, sizeof line, "[ERR 0x%08X] %s\r\n", code, text);
        vos::DebugOutput(line);
    }
}

void ComReport(uint16_t kind, uint32_t tag, const char* data, uint32_t length) {
    using namespace omnel;
    (void)kind;
    (void)tag;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        if (g_traceHook) g_traceHook(reinterpret_cast<const uint8_t*>(data), length);
    }
    ReadSettings();
    if (g_comOut && data) {
        // One line per 32 bytes: "[COM] +offset: hex bytes".
        char line[160];
        for (uint32_t off = 0; off < length || off == 0; off += 32) {
            int n = std::snprintf(line, sizeof line, "[COM] %u +%04X:", length, off);
            for (uint32_t i = off; i < length && i < off + 32; ++i)
                n += std::snprintf(line + n, sizeof line - n, " %02X",
                                   static_cast<unsigned char>(data[i]));
            std::snprintf(line + n, sizeof line - n, "\r\n");
            vos::DebugOutput(line);
            if (length == 0) break;
        }
    }
}
