// The one polling wait of the tests: every wait ends, in time and in count.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {

// Long enough for a loaded machine or a cold Wine start, short enough to fail
// a hung case quickly.
inline constexpr std::chrono::milliseconds kPatience{10000};

// Polls until the condition holds or the timeout has passed, and returns its
// last answer. The first polls come fast for conditions that turn quickly;
// later ones back off to 25 ms, so a long wait costs the machine little.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = kPatience) {
    constexpr std::chrono::milliseconds kLongestStep{25};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // The backoff reaches its longest step within a few polls; this bound
    // holds even if the clock were to stall.
    const long long maxPolls = timeout.count() / kLongestStep.count() + 16;
    std::chrono::milliseconds step{1};
    for (long long poll = 0; poll < maxPolls; ++poll) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(step);
        step = std::min(step * 2, kLongestStep);
    }
    return condition();
}

}  // namespace testing_support
