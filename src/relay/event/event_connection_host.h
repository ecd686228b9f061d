#pragma once

#include <cstdint>

#include "relay/event/lookup_pool.h"
#include "relay/relay_events.h"
#include "stats/traffic_display.h"

// What a connection reports to the engine that runs it. Called on the
// connection's worker thread.
class EventConnectionHost {
  public:
    virtual void AddTraffic(TrafficDirection direction, std::int64_t bytes) = 0;
    // A relay share ends (one per direction still open, as the limit counts).
    virtual void ReleaseShares(int shares) = 0;
    // The target answered.
    virtual void ConnectionOpened(const ConnectionReport& connection) = 0;
    // Once per connection, whatever ended it.
    virtual void ConnectionClosed(const ConnectionEnd& end) = 0;
    // Where target names are looked up, shared by every worker.
    virtual LookupPool& Lookups() = 0;
    // A link opened ahead was taken by a client or closed unused.
    virtual void SpareGone() = 0;

  protected:
    ~EventConnectionHost() = default;
};
