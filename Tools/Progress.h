// The progress bar of long copies (get, put, firmware): bytes, rate and time
// left, fed by the library's transfer progress callback while one export
// runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace cli {

enum class ProgressMode {
    Off,       // nothing shown (JSON output, --no-progress); calls still counted
    Terminal,  // one line redrawn in place
    Lines,     // a line at every quarter (output that is not a terminal)
};

class ProgressBar {
public:
    // knownTotal: the size when the tool knows it (the library may report 0).
    ProgressBar(std::ostream& err, std::string label, uint64_t knownTotal, ProgressMode mode);

    // One report of the library: bytes done, total (0 = unknown).
    void Update(uint64_t done, uint64_t total);
    // Ends the bar (a last redraw and a newline when something was drawn).
    void Finish(bool ok);

    uint32_t Calls() const { return m_calls; }
    uint64_t Done() const { return m_done; }
    uint64_t Total() const { return m_total; }
    double Seconds() const;
    // Bytes per second so far.
    double Rate() const;

    // The bar's text for these numbers (for tests and the drawing).
    static std::string Render(const std::string& label, uint64_t done, uint64_t total, double seconds,
                              int width);

private:
    void Draw(bool final);

    std::ostream& m_err;
    std::string m_label;
    ProgressMode m_mode;
    uint64_t m_knownTotal;
    uint64_t m_total;
    uint64_t m_done = 0;
    uint32_t m_calls = 0;
    int m_quarterShown = -1;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// Routes the library's transfer progress to a bar while it lives.
class TransferProgressScope {
public:
    explicit TransferProgressScope(ProgressBar& bar);
    ~TransferProgressScope();
    TransferProgressScope(const TransferProgressScope&) = delete;
    TransferProgressScope& operator=(const TransferProgressScope&) = delete;
};

}  // namespace cli
