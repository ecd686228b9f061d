// Bounded polling for a condition another thread makes true.
#pragma once

#include <chrono>
#include <thread>

namespace platform {

// True once the condition holds; false when timeoutMs pass first.
template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace platform
