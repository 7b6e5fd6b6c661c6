// Collects what reaches the debugger output while it lives. With the call
// log on, the call log writes its lines there too (its mode is restored at
// the end); with a filter, only the lines that contain it are kept.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Pc/Log/CallLog.h"
#include "Pc/Os/OsDebug.h"

namespace vtest {

class DebugLines {
public:
    static constexpr bool kCallLog = true;  // the call log writes to the debugger too

    explicit DebugLines(bool callLog = false, const char* filter = "") : m_callLog(callLog), m_filter(filter) {
        if (m_callLog) m_oldMode = TheCallLog().SetMode(kCallLogDebugger);
        vos::SetDebugOutputHook([this](const char* text) {
            std::string line = text ? text : "";
            if (line.find(m_filter) == std::string::npos) return;
            std::lock_guard<std::mutex> lock(m_lock);
            m_lines.push_back(std::move(line));
        });
    }
    ~DebugLines() {
        vos::SetDebugOutputHook(nullptr);
        if (m_callLog) TheCallLog().SetMode(m_oldMode);
    }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_lines;
    }
    // The lines so far; the next call starts empty.
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<std::string> out;
        out.swap(m_lines);
        return out;
    }

private:
    const bool m_callLog;
    const std::string m_filter;
    uint32_t m_oldMode = 0;
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

}  // namespace vtest
