// The tests' one way to wait for something: poll a condition until a
// deadline in real time, never a bare sleep.
#pragma once

#include <chrono>
#include <thread>

namespace vtest {

// Waits (real milliseconds) until cond() holds; false when it never did.
template <class Cond>
bool WaitUntil(Cond cond, int realMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vtest
