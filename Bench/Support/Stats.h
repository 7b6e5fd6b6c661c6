// Small statistics over timing samples.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
inline double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// The q-quantile (0..1) by the nearest rank; 0 for no samples.
inline double Quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    const size_t rank = static_cast<size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank), samples.end());
    return samples[rank];
}

inline double Median(const std::vector<double>& samples) { return Quantile(samples, 0.5); }

}  // namespace bench
