// The one interface through which the engine tells its front end what to show.
// The dialog implements it with its controls, the headless relay draws
// nothing. Every call may come from any thread and must not return before
// it has taken effect; the engine holds at most one of its locks across a call.
#pragma once

#include <string>

#include "relay/run_state.h"
#include "stats/traffic_display.h"

class RelayDisplay : public TrafficDisplay {
  public:
    // One line of status ("Listening on port 1987...", "listening stopped!").
    virtual void SetStatusText(const std::string& text) = 0;
    // The live pump-thread count; called with the count lock held.
    virtual void ShowConnectionCount(int count) = 0;
    // The run's state, which the Start and Stop commands follow.
    virtual void ShowRunState(RunState state) = 0;
    // A message the user must acknowledge; blocks the calling thread until then.
    // The text is UTF-8 (one message carries a full-width comma).
    virtual void ShowMessage(const std::string& text) = 0;
};
