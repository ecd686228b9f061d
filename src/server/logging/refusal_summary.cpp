#include "server/logging/refusal_summary.h"

#include <algorithm>

bool RefusalSummary::Refused(RefusalReason reason, Clock::time_point at) {
    const auto open = m_open.find(reason);
    if (open != m_open.end() && at < open->second.start + m_interval) {
        ++open->second.counted;
        return false;
    }
    // A caller that skipped Ended loses that count, not this line.
    m_open[reason] = Interval{at, 0};
    return true;
}

std::vector<RefusalCount> RefusalSummary::Ended(Clock::time_point at) {
    return Take(at, false);
}

std::vector<RefusalCount> RefusalSummary::All(Clock::time_point at) {
    return Take(at, true);
}

std::vector<RefusalCount> RefusalSummary::Take(Clock::time_point at, bool all) {
    std::vector<RefusalCount> counts;
    for (auto open = m_open.begin(); open != m_open.end();) {
        const Interval& interval = open->second;
        const bool ended = at >= interval.start + m_interval;
        if (!ended && !all) {
            ++open;
            continue;
        }
        if (interval.counted > 0) {
            // A stopped interval reports the whole seconds it ran, at least one.
            const auto ran =
                ended ? m_interval : std::chrono::ceil<std::chrono::seconds>(at - interval.start);
            counts.push_back(
                {open->first, interval.counted, std::max(ran, std::chrono::seconds(1))});
        }
        open = m_open.erase(open);
    }
    return counts;
}
