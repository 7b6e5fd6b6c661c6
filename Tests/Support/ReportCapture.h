// Captures every ErrReportf report and every ComReport trace while it lives.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Lib/Omnel/Omnel.h"

namespace vtest {

class ReportCapture {
public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    std::vector<omnel::Report> Reports() const;
    std::vector<std::vector<uint8_t>> Traces() const;
    // The traced request messages (traces alternate request, response) of
    // one command code.
    std::vector<std::vector<uint8_t>> Requests(uint8_t code) const;
    // Number of reports with this code (and path and line when given).
    size_t Count(uint32_t code, const char* path = nullptr, int line = 0) const;
    void Clear();

private:
    mutable std::mutex m_lock;
    std::vector<omnel::Report> m_reports;
    std::vector<std::vector<uint8_t>> m_traces;
};

}  // namespace vtest
