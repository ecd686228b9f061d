// The engine the config chooses, behind the interface the service drives.
#pragma once

#include <memory>

#include "relay/relay_control.h"
#include "relay/relay_display.h"
#include "relay/relay_events.h"
#include "server/config/setting_values.h"

// It draws the count and the totals on `display` and reports to `events`;
// both must outlive it, and outlive its threads where ThreadsMayOutliveIt.
std::unique_ptr<RelayControl> MakeRelayEngine(EngineChoice engine, RelayDisplay& display,
                                              RelayEvents& events);
