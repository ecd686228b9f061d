#include "server/logging/stats_line.h"

#include "stats/byte_size.h"

namespace {

constexpr std::int64_t kMillisecondsPerSecond = 1000;

// Growth per second over the interval; a shrinking total (never expected)
// and an empty interval count as no speed.
std::int64_t PerSecond(std::int64_t growth, std::chrono::milliseconds interval) {
    if (growth <= 0 || interval.count() <= 0) {
        return 0;
    }
    return growth * kMillisecondsPerSecond / interval.count();
}

// A byte-size text always holds a space, so it is always quoted.
std::string SizeWord(const char* key, const std::string& size) {
    return std::string(" ") + key + "=\"" + size + '"';
}

}  // namespace

bool StatsReporter::Line::operator==(const Line& other) const {
    return counts.clients == other.counts.clients && counts.shares == other.counts.shares &&
           counts.refused == other.counts.refused && counts.bytesUp == other.counts.bytesUp &&
           counts.bytesDown == other.counts.bytesDown && upSpeed == other.upSpeed &&
           downSpeed == other.downSpeed;
}

std::optional<std::string> StatsReporter::Next(const StatsSnapshot& now,
                                               std::chrono::milliseconds interval,
                                               Clock::time_point at) {
    Line line;
    line.counts = now;
    line.upSpeed = PerSecond(now.bytesUp - m_previous.bytesUp, interval);
    line.downSpeed = PerSecond(now.bytesDown - m_previous.bytesDown, interval);
    m_previous = now;

    const bool due = !m_lastLine || !(line == *m_lastLine) || at - m_lastLineAt >= kQuietLimit;
    if (!due) {
        return std::nullopt;
    }
    m_lastLine = line;
    m_lastLineAt = at;
    return Format(line);
}

std::string StatsReporter::Format(const Line& line) {
    return "event=stats clients=" + std::to_string(line.counts.clients) +
           " shares=" + std::to_string(line.counts.shares) +
           " refused=" + std::to_string(line.counts.refused) +
           SizeWord("up", FormatByteSize(line.counts.bytesUp)) +
           SizeWord("down", FormatByteSize(line.counts.bytesDown)) +
           SizeWord("up_speed", FormatByteSize(line.upSpeed) + "/s") +
           SizeWord("down_speed", FormatByteSize(line.downSpeed) + "/s");
}
