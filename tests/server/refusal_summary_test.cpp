// Refusals in numbers as one count per reason and interval, the time passed in.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <vector>

#include "server/logging/refusal_summary.h"

// Shown in a failure as the log line would word it.
void PrintTo(const RefusalCount& count, std::ostream* out) {
    *out << RefusalReasonName(count.reason) << " count=" << count.count
         << " seconds=" << count.seconds.count();
}

namespace {

constexpr auto kLimit = RefusalReason::LimitReached;
constexpr auto kDenied = RefusalReason::NotAllowed;

enum class Act {
    Refuse,  // Ended, then Refused, as the log does for each refusal
    Tick,    // Ended alone, as the service's tick does
    Stop,    // All
};

struct Step {
    int atMs;
    Act act;
    RefusalReason reason;
    bool ownLine;  // of a Refuse
    std::vector<RefusalCount> counts;
};

struct SummaryCase {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const SummaryCase& c, std::ostream* out) {
    *out << c.name;
}

RefusalCount Count(RefusalReason reason, std::int64_t count, int seconds) {
    return {reason, count, std::chrono::seconds(seconds)};
}

class RefusalSummaryTest : public testing::TestWithParam<SummaryCase> {};

TEST_P(RefusalSummaryTest, FirstOfAnIntervalHasItsLineTheRestACount) {
    RefusalSummary summary;
    const RefusalSummary::Clock::time_point start{std::chrono::hours(1)};
    for (const Step& step : GetParam().steps) {
        const auto at = start + std::chrono::milliseconds(step.atMs);
        std::vector<RefusalCount> counts;
        if (step.act == Act::Refuse) {
            counts = summary.Ended(at);
            EXPECT_EQ(summary.Refused(step.reason, at), step.ownLine) << "at " << step.atMs;
        } else {
            counts = step.act == Act::Tick ? summary.Ended(at) : summary.All(at);
        }
        EXPECT_EQ(counts, step.counts) << "at " << step.atMs;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalSummaryTest,
    testing::Values(SummaryCase{"CountedUntilTheIntervalEnds",
                                {{0, Act::Refuse, kDenied, true, {}},
                                 {1000, Act::Refuse, kDenied, false, {}},
                                 {9999, Act::Refuse, kDenied, false, {}},
                                 {9999, Act::Tick, kDenied, false, {}},
                                 {10000, Act::Tick, kDenied, false, {Count(kDenied, 2, 10)}},
                                 {11000, Act::Tick, kDenied, false, {}},
                                 {12000, Act::Refuse, kDenied, true, {}}}},
                    SummaryCase{"ReasonsCountApart",
                                {{0, Act::Refuse, kDenied, true, {}},
                                 {100, Act::Refuse, kLimit, true, {}},
                                 {200, Act::Refuse, kLimit, false, {}},
                                 {300, Act::Refuse, kDenied, false, {}},
                                 {400, Act::Refuse, kLimit, false, {}},
                                 {10000, Act::Tick, kDenied, false, {Count(kDenied, 1, 10)}},
                                 {10100, Act::Tick, kDenied, false, {Count(kLimit, 2, 10)}}}},
                    SummaryCase{"LoneRefusalHasNoCount",
                                {{0, Act::Refuse, kLimit, true, {}},
                                 {10000, Act::Tick, kLimit, false, {}},
                                 {10500, Act::Refuse, kLimit, true, {}}}},
                    // Before the tick came: the old count first, then the new line.
                    SummaryCase{"RefusalAfterTheEndReportsTheOldCountFirst",
                                {{0, Act::Refuse, kDenied, true, {}},
                                 {5000, Act::Refuse, kDenied, false, {}},
                                 {10200, Act::Refuse, kDenied, true, {Count(kDenied, 1, 10)}},
                                 {10300, Act::Refuse, kDenied, false, {}}}},
                    SummaryCase{"StopReportsTheRunningCountsOverTheSecondsTheyRan",
                                {{0, Act::Refuse, kDenied, true, {}},
                                 {1000, Act::Refuse, kLimit, true, {}},
                                 {1000, Act::Refuse, kDenied, false, {}},
                                 {3200, Act::Stop, kDenied, false, {Count(kDenied, 1, 4)}},
                                 {3300, Act::Refuse, kDenied, true, {}},
                                 {3300, Act::Refuse, kDenied, false, {}},
                                 {3300, Act::Stop, kDenied, false, {Count(kDenied, 1, 1)}}}}),
    [](const testing::TestParamInfo<SummaryCase>& info) { return info.param.name; });

}  // namespace
