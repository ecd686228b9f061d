// The byte totals of both directions, their speed samples and the hidden flag.
// Pump threads add chunks under m_csTraffic and show the new total while they
// hold it, so each display ends on the latest total. The UI thread never takes
// the lock (a pump holding it may be waiting for the UI thread): it reads,
// samples and resets with atomic loads and stores.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/critical_section.h"
#include "stats/traffic_display.h"

// One speed tick: each total's growth since the previous tick.
struct SpeedSample {
    std::int64_t up = 0;    // client-to-server growth since the previous tick
    std::int64_t down = 0;  // server-to-client growth since the previous tick
    bool show = false;      // false while the display is hidden
};

class TrafficCounters {
  public:
    explicit TrafficCounters(TrafficDisplay& display) : m_display(display) {}
    TrafficCounters(const TrafficCounters&) = delete;
    TrafficCounters& operator=(const TrafficCounters&) = delete;

    // Pump threads: adds one chunk's received length and shows the new total
    // unless hidden.
    void AddTrafficBytes(TrafficDirection direction, std::int64_t count);

    // UI thread. A reset that meets a concurrent addition leaves 0 or that
    // chunk, never the old total.
    void ResetTrafficCounters();
    // UI thread, once a second: growth of both totals since the previous
    // tick. The samples move on whether hidden or not.
    SpeedSample Tick();
    // UI thread: shows both totals again (after the window reappears).
    void RefreshTrafficDisplay();

    void SetHidden(bool hidden) { m_bHidden.store(hidden, std::memory_order_relaxed); }
    bool IsHidden() const { return m_bHidden.load(std::memory_order_relaxed); }

    std::int64_t BytesUp() const { return m_nBytesUp.load(std::memory_order_relaxed); }
    std::int64_t BytesDown() const { return m_nBytesDown.load(std::memory_order_relaxed); }

  private:
    TrafficDisplay& m_display;
    CCriticalSection m_csTraffic;                   // an addition together with its display
    std::atomic<std::int64_t> m_nBytesUp{0};        // received from clients, sent to the target
    std::atomic<std::int64_t> m_nBytesDown{0};      // received from the target, sent to clients
    std::atomic<std::int64_t> m_nLastBytesUp{0};    // m_nBytesUp at the previous tick
    std::atomic<std::int64_t> m_nLastBytesDown{0};  // m_nBytesDown at the previous tick
    std::atomic<bool> m_bHidden{false};             // totals counted but not shown
};
