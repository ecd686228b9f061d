// The window tests' pace: the support library's bounded wait, and a pause for
// what must not happen (or must have had its chance to happen).
#pragma once

#include <chrono>
#include <thread>

#include "wait.h"

namespace vorlane::gui {

using std::chrono::milliseconds;
using testing_support::WaitUntil;

// Long enough for a cold Wine start, short enough to fail a hung case quickly.
inline constexpr milliseconds kWaitLimit = testing_support::kPatience;

inline void Pause(milliseconds span) {
    std::this_thread::sleep_for(span);
}

}  // namespace vorlane::gui
