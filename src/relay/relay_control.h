// What a front end drives, whichever engine carries the relay: the threaded
// engine of the window, or either engine of the headless relay.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "relay/start_request.h"
#include "stats/traffic_counters.h"

class RelayControl {
  public:
    virtual ~RelayControl() = default;

    // On a refusal the reason has been reported and false is returned.
    virtual bool StartListening(const StartRequest& request) = 0;
    // Ends the listening run, not its connections.
    virtual void StopListening() = 0;
    // Not on an engine thread. Clients accepted once it returns get the
    // request's settings; live connections keep theirs. False (and reported)
    // when the request is refused or its listener cannot open.
    virtual bool Reconfigure(const StartRequest& request) = 0;
    // Whether Reconfigure keeps the listener open when its address and port
    // stay the same (otherwise it always opens it again).
    virtual bool KeepsListenerOnReconfigure() const = 0;
    // Stops accepting and lets live connections finish for up to `grace`.
    // `stoppedAccepting` runs once no further client can be admitted (or after
    // a few seconds, should the listener not close). True when all
    // connections had finished by the deadline.
    virtual bool Drain(std::chrono::milliseconds grace,
                       const std::function<void()>& stoppedAccepting) = 0;
    // Whether threads the engine began may outlive it: the process must then
    // end without destroying it (or anything they use).
    virtual bool ThreadsMayOutliveIt() const = 0;

    // Growth of both totals since the previous tick (once a second).
    virtual SpeedSample TickSpeeds() = 0;
    // While hidden, totals are counted but not shown.
    virtual void SetHidden(bool hidden) = 0;
    // Shows both totals again (after the display reappears).
    virtual void RefreshTrafficDisplay() = 0;

    // Relay shares: one per direction of a client still open (two per
    // relayed client, one while its target is being reached), as the limit counts.
    virtual int ConnectionCount() const = 0;
    // Clients accepted and not yet closed.
    virtual int LiveConnections() const = 0;
    virtual std::int64_t BytesUp() const = 0;
    virtual std::int64_t BytesDown() const = 0;
    // Local port of the current or last run as the system bound it.
    virtual int ListeningPort() const = 0;
    virtual bool IsListening() const = 0;
    // Clients closed at once because no allowFrom range holds their address.
    virtual std::int64_t DeniedCount() const = 0;
    // Clients sent the refusal text (a limit reached).
    virtual std::int64_t RefusedCount() const = 0;

    // Waits until nothing of the engine runs any more (no accepting, no
    // connection), at most timeoutMs.
    virtual bool WaitForWorkers(int timeoutMs) = 0;
};
