// Bounded polling: every wait in the GUI tests ends, one way or the other.
#pragma once

#include <chrono>
#include <thread>

namespace vorlane::gui {

using std::chrono::milliseconds;

// Long enough for a cold Wine start, short enough to fail a hung case quickly.
inline constexpr milliseconds kWaitLimit{10000};
inline constexpr milliseconds kPollStep{25};

// Polls `ready` until it returns true or `limit` has passed; returns its last answer.
template <class Predicate>
bool WaitUntil(Predicate ready, milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return ready();
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

inline void Pause(milliseconds span) {
    std::this_thread::sleep_for(span);
}

}  // namespace vorlane::gui
