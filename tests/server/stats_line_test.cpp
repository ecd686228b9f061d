// When --stats prints a line, and what the line says.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "server/logging/stats_line.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr milliseconds kSecond{1000};

StatsReporter::Clock::time_point At(seconds offset) {
    return StatsReporter::Clock::time_point{} + offset;
}

TEST(StatsReporterTest, PrintsOnChangeAndAtLeastOnceAMinute) {
    struct Step {
        int at = 0;  // seconds
        StatsSnapshot snapshot;
        bool printed = false;
        const char* why = "";
    };
    const Step steps[] = {
        {1, {0, 0, 0, 0, 0}, true, "the first line"},
        {2, {0, 0, 0, 0, 0}, false, "nothing changed"},
        {3, {1, 2, 0, 0, 0}, true, "a client came"},
        {4, {1, 2, 0, 0, 0}, false, "nothing changed"},
        {5, {1, 2, 0, 2048, 0}, true, "bytes went up"},
        {6, {1, 2, 0, 2048, 0}, true, "the speed fell back to zero"},
        {7, {1, 2, 0, 2048, 0}, false, "nothing changed"},
        {65, {1, 2, 0, 2048, 0}, false, "59 s since the last line"},
        {66, {1, 2, 0, 2048, 0}, true, "a minute since the last line"},
        {67, {1, 2, 0, 2048, 0}, false, "nothing changed"},
        {68, {1, 2, 1, 2048, 0}, true, "a client was refused"},
        {69, {0, 0, 1, 2048, 0}, true, "the client left"},
        {70, {0, 0, 1, 2048, 64}, true, "bytes went down"},
    };
    StatsReporter reporter;
    for (const Step& step : steps) {
        EXPECT_EQ(reporter.Next(step.snapshot, kSecond, At(seconds(step.at))).has_value(),
                  step.printed)
            << "at " << step.at << " s: " << step.why;
    }
}

TEST(StatsReporterTest, LineHoldsCountsTotalsAndSpeedsOverTheInterval) {
    StatsReporter reporter;
    const std::int64_t up = 1258291;  // 1.2 MB
    ASSERT_TRUE(reporter.Next({3, 6, 1, up - 20480, 300}, kSecond, At(seconds(1))));
    // 20480 bytes up over two seconds; nothing down.
    const auto line = reporter.Next({3, 6, 1, up, 300}, milliseconds(2000), At(seconds(3)));
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line,
              "event=stats clients=3 shares=6 refused=1 up=\"1.2 MB\" down=\"0.3 KB\" "
              "up_speed=\"10.0 KB/s\" down_speed=\"0 Byte/s\"");
}

}  // namespace
