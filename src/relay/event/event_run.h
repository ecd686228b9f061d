// What a connection takes from the listening run that admitted it. A run's
// settings are fixed once it starts; a reload makes a new one for the clients
// that come after, while every connection keeps the one it began with (its
// target, byte map mode, time-outs and chunk size): a mode changed under a
// live connection would garble its stream.
#pragma once

#include "relay/start_request.h"
#include "relay/target_resolution.h"

struct EventRun {
    StartRequest settings;  // as started, with the chunk size the engine uses
    TargetAddress target;   // the trimmed target; a name is looked up per connection
};

// The run a request describes; the request has passed its checks.
EventRun RunFor(const StartRequest& request);
