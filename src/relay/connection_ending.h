// How one connection of the threaded engine went, gathered from both of its
// pumps: its bytes, and how each direction ended. Its end is worded once,
// after the last pump has let go.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>

#include "platform/critical_section.h"
#include "relay/relay_events.h"
#include "stats/traffic_display.h"

class ConnectionEnding {
  public:
    explicit ConnectionEnding(const ConnectionReport& connection);
    ConnectionEnding(const ConnectionEnding&) = delete;
    ConnectionEnding& operator=(const ConnectionEnding&) = delete;

    // Once per pump, with all it moved.
    void AddBytes(TrafficDirection direction, std::int64_t bytes);
    // The direction's source ended its stream in order.
    void EndedInOrder(TrafficDirection direction);
    // Any pump; the first failure is the one reported.
    void Failed(CloseReason reason, std::error_code error = {});
    // The first failure, else whoever ended its stream last.
    ConnectionEnd End() const;

    // Its id and client; the client pump adds the target before the server pump begins.
    ConnectionReport connection;

  private:
    const std::chrono::steady_clock::time_point m_accepted;
    std::atomic<std::int64_t> m_bytesUp{0};
    std::atomic<std::int64_t> m_bytesDown{0};
    mutable CCriticalSection m_csEnd;  // the two below, from both pumps
    std::optional<CloseReason> m_failure;
    std::error_code m_error;
    // Until both streams ended in order nothing else holds; a pump that
    // ends without a word (an exception) leaves it so.
    std::optional<TrafficDirection> m_lastInOrder;
    int m_endedInOrder = 0;
};
