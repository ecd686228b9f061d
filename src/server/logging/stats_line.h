// The statistics lines of --stats. Pure logic: the caller samples the relay
// once an interval and passes the time in, so the rules can be tested
// without waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// The relay as seen at the end of one interval.
struct StatsSnapshot {
    int clients = 0;
    int shares = 0;
    std::int64_t refused = 0;
    std::int64_t bytesUp = 0;  // totals since start
    std::int64_t bytesDown = 0;
};

class StatsReporter {
  public:
    using Clock = std::chrono::steady_clock;
    // A line is due at least this often, even when nothing changed.
    static constexpr std::chrono::minutes kQuietLimit{1};

    // Call once an interval, `interval` being its length (the speeds are the
    // totals' growth over it). Returns the line's body, e.g.
    //   event=stats clients=3 shares=6 refused=1 up="1.2 MB" down="300 Bytes"
    //   up_speed="10.0 KB/s" down_speed="0 Byte/s"
    // for the first call, when any count or speed differs from the last
    // line's, or when kQuietLimit has passed since it; otherwise nothing.
    std::optional<std::string> Next(const StatsSnapshot& now, std::chrono::milliseconds interval,
                                    Clock::time_point at);

  private:
    struct Line {
        StatsSnapshot counts;
        std::int64_t upSpeed = 0;  // bytes per second
        std::int64_t downSpeed = 0;
        bool operator==(const Line& other) const;
    };

    static std::string Format(const Line& line);

    StatsSnapshot m_previous;          // the last call's snapshot, for the speeds
    std::optional<Line> m_lastLine;    // the last line returned
    Clock::time_point m_lastLineAt{};  // when it was returned
};
