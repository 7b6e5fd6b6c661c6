#include "Pc/Log/CallLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Pc/Log/CallLogSinks.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsFile.h"

namespace {
constexpr size_t kLineSize = 4096;
}

CallLog::CallLog() : m_dwMode(0), m_hFile(vos::InvalidHandle()), m_hWindow(nullptr) {}
CallLog::~CallLog() = default;

uint32_t CallLog::SetMode(uint32_t mode) {
    uint32_t old = m_dwMode;
    m_dwMode = mode;
    return old;
}
uint32_t CallLog::GetMode() { return m_dwMode; }

vos::OsHandle CallLog::SetFile(vos::OsHandle file) {
    vos::OsHandle old = m_hFile;
    m_hFile = file;
    return old;
}
vos::OsHandle CallLog::GetFile() { return m_hFile; }

void* CallLog::SetWindow(void* window) {
    void* old = m_hWindow;
    m_hWindow = window;
    return old;
}
void* CallLog::GetWindow() { return m_hWindow; }

void CallLog::Printf(const char* format, ...) {
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, kLineSize, format, args);
    va_end(args);
    line[kLineSize - 1] = 0;
    Output(0, 0, line);
}

void CallLog::PrintfEx(uint32_t add, uint32_t remove, const char* format, ...) {
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, kLineSize, format, args);
    va_end(args);
    line[kLineSize - 1] = 0;
    Output(add, remove, line);
}

void CallLog::Output(uint32_t add, uint32_t remove, const char* line) {
    uint32_t mask = (m_dwMode | add) & ~remove;
    if (!line) return;
    if (mask & kCallLogDebugger) vos::DebugOutput(line);
    if ((mask & kCallLogFile) && vos::IsValidHandle(m_hFile)) {
        uint32_t written = 0;
        vos::FileWrite(m_hFile, line, static_cast<uint32_t>(std::strlen(line)), &written);
    }
    if (m_hWindow != nullptr && m_hWindow != vos::InvalidHandle()) {
        callog_sinks::WindowOutput(m_hWindow, mask, line);
    }
    if (mask & kCallLogClipReplace) m_clipboard.Replace(line);
    if (mask & kCallLogClipPrepend) m_clipboard.Add(line, false);
    if (mask & kCallLogClipAppend) m_clipboard.Add(line, true);
}

CCallLogClipboard::~CCallLogClipboard() = default;
void CCallLogClipboard::Replace(const char* line) { callog_sinks::ClipboardReplace(line); }
void CCallLogClipboard::Add(const char* line, bool atEnd) { callog_sinks::ClipboardAdd(line, atEnd); }

CallLog& TheCallLog() {
    static CallLog log;
    return log;
}
