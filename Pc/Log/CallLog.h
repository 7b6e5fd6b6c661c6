// The call log: one static object that receives a formatted line for the
// calls that log (J2534 entry points, DLC12, KovGetLastError, KovCreateFile,
// the process notifications) and routes it to the sinks its mode selects.
// The library sets the mode to 0 at process attach, so by default every line
// is formatted and dropped.
#pragma once

#include <cstdint>

#include "Pc/Os/OsTypes.h"

// Mode bits.
constexpr uint32_t kCallLogDebugger = 0x01;
constexpr uint32_t kCallLogFile = 0x02;
constexpr uint32_t kCallLogWindowReplace = 0x04;
constexpr uint32_t kCallLogWindowPrepend = 0x08;
constexpr uint32_t kCallLogWindowAppend = 0x10;
constexpr uint32_t kCallLogClipReplace = 0x20;
constexpr uint32_t kCallLogClipPrepend = 0x40;
constexpr uint32_t kCallLogClipAppend = 0x80;

class CCallLogClipboard {
public:
    virtual ~CCallLogClipboard();
    virtual void Replace(const char* line);
    virtual void Add(const char* line, bool atEnd);
};

class CallLog {
public:
    CallLog();
    virtual ~CallLog();
    virtual uint32_t SetMode(uint32_t mode);
    virtual uint32_t GetMode();
    virtual vos::OsHandle SetFile(vos::OsHandle file);
    virtual vos::OsHandle GetFile();
    virtual void* SetWindow(void* window);
    virtual void* GetWindow();
    virtual void Printf(const char* format, ...);
    virtual void PrintfEx(uint32_t add, uint32_t remove, const char* format, ...);
    virtual void Output(uint32_t add, uint32_t remove, const char* line);

private:
    uint32_t m_dwMode;
    vos::OsHandle m_hFile;
    void* m_hWindow;
    CCallLogClipboard m_clipboard;
};

// The library's one call log.
CallLog& TheCallLog();
