#include "Tools/Progress.h"

#include <cstdio>

#include "Pc/MsgCtrl/TransferProgress.h"
#include "Tools/Text.h"

namespace cli {

namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

void OnTransferProgress(void* user, uint64_t done, uint64_t total) {
    static_cast<ProgressBar*>(user)->Update(done, total);
}

}  // namespace

ProgressBar::ProgressBar(std::ostream& err, std::string label, uint64_t knownTotal, ProgressMode mode)
    : m_err(err),
      m_label(std::move(label)),
      m_mode(mode),
      m_knownTotal(knownTotal),
      m_total(knownTotal),
      m_start(std::chrono::steady_clock::now()),
      m_lastDraw(m_start - kRedrawEvery) {}

double ProgressBar::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

double ProgressBar::Rate() const {
    const double s = Seconds();
    return s > 0 ? static_cast<double>(m_done) / s : 0.0;
}

void ProgressBar::Update(uint64_t done, uint64_t total) {
    ++m_calls;
    m_done = done;
    m_total = total != 0 ? total : m_knownTotal;
    if (m_mode == ProgressMode::Off) return;
    if (m_mode == ProgressMode::Lines) {
        if (m_total == 0) return;
        const int quarter = static_cast<int>(m_done * 4 / m_total);
        if (quarter > m_quarterShown && quarter < 4) {
            m_quarterShown = quarter;
            Draw(false);
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw < kRedrawEvery) return;
    m_lastDraw = now;
    Draw(false);
}

void ProgressBar::Finish(bool ok) {
    if (m_mode == ProgressMode::Off) return;
    if (ok || m_drawn) Draw(true);
    if (m_mode == ProgressMode::Terminal && m_drawn) m_err << '\n';
    m_err.flush();
}

void ProgressBar::Draw(bool final) {
    const std::string text = Render(m_label, m_done, m_total, Seconds(), kBarWidth);
    if (m_mode == ProgressMode::Terminal) {
        m_err << '\r' << text << "\x1b[K";
    } else {
        m_err << text << '\n';
    }
    (void)final;
    m_drawn = true;
    m_err.flush();
}

std::string ProgressBar::Render(const std::string& label, uint64_t done, uint64_t total, double seconds,
                                int width) {
    std::string bar;
    std::string percent;
    if (total > 0) {
        const uint64_t shown = done > total ? total : done;
        const int filled = static_cast<int>(shown * static_cast<uint64_t>(width) / total);
        bar = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '-') + "]";
        char p[8];
        std::snprintf(p, sizeof p, "%3d%%", static_cast<int>(shown * 100 / total));
        percent = p;
    } else {
        bar = "[" + std::string(static_cast<size_t>(width), '?') + "]";
        percent = "  ?%";
    }
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    std::string text = label + " " + bar + " " + percent + "  " + HumanBytes(done);
    if (total > 0) text += " / " + HumanBytes(total);
    text += "  " + HumanBytes(static_cast<uint64_t>(rate)) + "/s";
    if (total > 0 && done < total && rate > 0) {
        text += "  " + HumanDuration(static_cast<double>(total - done) / rate) + " left";
    } else if (total > 0 && done >= total) {
        text += "  " + HumanDuration(seconds) + " total";
    }
    return text;
}

TransferProgressScope::TransferProgressScope(ProgressBar& bar) { SetTransferProgressCallback(OnTransferProgress, &bar); }

TransferProgressScope::~TransferProgressScope() { SetTransferProgressCallback(nullptr, nullptr); }

}  // namespace cli
