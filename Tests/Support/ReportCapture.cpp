#include "Tests/Support/ReportCapture.h"

namespace vtest {

ReportCapture::ReportCapture() {
    omnel::SetReportHook([this](const omnel::Report& r) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_reports.push_back(r);
    });
    omnel::SetTraceHook([this](const uint8_t* data, uint32_t length) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_traces.emplace_back(data, data + length);
    });
}

ReportCapture::~ReportCapture() {
    omnel::SetReportHook(nullptr);
    omnel::SetTraceHook(nullptr);
}

std::vector<omnel::Report> ReportCapture::Reports() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reports;
}

std::vector<std::vector<uint8_t>> ReportCapture::Traces() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_traces;
}

std::vector<std::vector<uint8_t>> ReportCapture::Requests(uint8_t code) const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i < m_traces.size(); i += 2)
        if (!m_traces[i].empty() && m_traces[i][0] == code) out.push_back(m_traces[i]);
    return out;
}

size_t ReportCapture::Count(uint32_t code, const char* path, int line) const {
    std::lock_guard<std::mutex> lock(m_lock);
    size_t n = 0;
    for (const auto& r : m_reports)
        if (r.code == code && (!path || r.path == path) && (line == 0 || r.line == line)) ++n;
    return n;
}

void ReportCapture::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_reports.clear();
    m_traces.clear();
}

}  // namespace vtest
