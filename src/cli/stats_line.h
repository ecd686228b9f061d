// The once-a-second line of --stats.
#pragma once

#include <string>

#include "relay/relay_control.h"

// "up 4.9 KB at 1.0 KB/s, down 4.9 KB at 1.0 KB/s, connections 2, denied 0"
std::string FormatStatsLine(const RelayControl& engine, const SpeedSample& speeds);
