// Refused clients counted rather than logged one by one once they come in
// numbers: a flood of them would bury the lines that matter (and journald's
// rate limit would then drop those). Pure logic: the caller passes the time
// in, so the rules can be tested without waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

#include "relay/relay_events.h"

// Refusals of one reason that had no line of their own.
struct RefusalCount {
    RefusalReason reason = RefusalReason::LimitReached;
    std::int64_t count = 0;
    std::chrono::seconds seconds{0};  // the time they came in

    bool operator==(const RefusalCount& other) const {
        return reason == other.reason && count == other.count && seconds == other.seconds;
    }
};

// Per reason, the first refusal logs its own line and opens an interval;
// the next ones within it are only counted, and the count is reported when
// the interval ends (nothing when there were none). A steady flood thus
// costs two lines per reason an interval.
class RefusalSummary {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kInterval{10};

    explicit RefusalSummary(std::chrono::seconds interval = kInterval) : m_interval(interval) {}

    // Call Ended(at) first, so an ended interval's count is written before
    // this refusal's line. True when the refusal gets a line of its own.
    bool Refused(RefusalReason reason, Clock::time_point at);
    // The counts of the intervals that have ended by `at`, by reason.
    std::vector<RefusalCount> Ended(Clock::time_point at);
    // Every count, ended or not, the running ones over the time they ran
    // (at stop).
    std::vector<RefusalCount> All(Clock::time_point at);

  private:
    struct Interval {
        Clock::time_point start;
        std::int64_t counted = 0;
    };

    std::vector<RefusalCount> Take(Clock::time_point at, bool all);

    std::chrono::seconds m_interval;
    std::map<RefusalReason, Interval> m_open;
};
