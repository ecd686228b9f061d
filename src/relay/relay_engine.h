// The relay engine: one listening run at a time, two pump threads per
// connection, the connection count and the byte totals. It knows no window;
// it shows everything through a RelayDisplay.
//
// PUBLIC INTERFACE (fixed; the dialog and the headless relay build on it).
// The private part is the engine's own and may change.
#pragma once

#include <cstdint>

#include "relay/relay_display.h"
#include "relay/start_request.h"

struct SpeedSample {
    std::int64_t up = 0;    // client-to-server growth since the previous tick
    std::int64_t down = 0;  // server-to-client growth since the previous tick
    bool show = false;      // false while the display is hidden
};

class RelayEngine {
public:
    explicit RelayEngine(RelayDisplay& display);
    // Only valid once no worker thread is left (see WaitForWorkers).
    ~RelayEngine();
    RelayEngine(const RelayEngine&) = delete;
    RelayEngine& operator=(const RelayEngine&) = delete;

    // Start command (UI thread). On a refusal the reason has been shown with
    // ShowMessage and false is returned; true once the accept thread runs.
    bool StartListening(const StartRequest& request);
    // Stop command (UI thread): ends the listening run, not its connections.
    void StopListening();

    // Speed tick (UI thread, once a second): growth of both totals since the
    // previous tick; the samples move on whether or not the display is hidden.
    SpeedSample TickSpeeds();
    // Redraws both totals through the display (UI thread, no lock taken).
    void RefreshTrafficDisplay();
    void ResetTrafficCounters();

    // While hidden, totals are counted but not shown; the count is always shown.
    void SetHidden(bool hidden);
    bool IsHidden() const;

    int ConnectionCount() const;
    std::int64_t BytesUp() const;
    std::int64_t BytesDown() const;
    // Local port of the current or last run as the system bound it (a run on port 0 gets one).
    int ListeningPort() const;
    bool IsListening() const;  // an accept thread exists
    // Clients closed at once because no allowFrom range holds their address.
    std::int64_t DeniedCount() const;

    // Waits until no accept or pump thread is left, at most timeoutMs. For
    // tests and for a clean exit of the headless relay.
    bool WaitForWorkers(int timeoutMs);

private:
    // ... engine-private state and steps
};
