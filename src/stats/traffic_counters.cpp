#include "stats/traffic_counters.h"

void TrafficCounters::AddTrafficBytes(TrafficDirection direction, std::int64_t count) {
    std::atomic<std::int64_t>& total =
        direction == TrafficDirection::ClientToServer ? m_nBytesUp : m_nBytesDown;
    CScopedLock lock(m_csTraffic);
    const std::int64_t now = total.fetch_add(count, std::memory_order_relaxed) + count;
    if (!IsHidden()) {
        m_display.ShowTrafficTotal(direction, now);
    }
}

void TrafficCounters::ResetTrafficCounters() {
    m_nBytesUp.store(0, std::memory_order_relaxed);
    m_nBytesDown.store(0, std::memory_order_relaxed);
    m_nLastBytesUp.store(0, std::memory_order_relaxed);
    m_nLastBytesDown.store(0, std::memory_order_relaxed);
}

SpeedSample TrafficCounters::Tick() {
    SpeedSample growth;
    growth.show = !IsHidden();
    const std::int64_t up = BytesUp();
    const std::int64_t down = BytesDown();
    growth.up = up - m_nLastBytesUp.exchange(up, std::memory_order_relaxed);
    growth.down = down - m_nLastBytesDown.exchange(down, std::memory_order_relaxed);
    return growth;
}

void TrafficCounters::RefreshTrafficDisplay() {
    m_display.ShowTrafficTotal(TrafficDirection::ClientToServer, BytesUp());
    m_display.ShowTrafficTotal(TrafficDirection::ServerToClient, BytesDown());
}
