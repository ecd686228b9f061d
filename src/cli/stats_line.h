// The once-a-second line of --stats.
#pragma once

#include <string>

#include "relay/relay_engine.h"

// "up 4.9 KB at 1.0 KB/s, down 4.9 KB at 1.0 KB/s, connections 2, denied 0"
std::string FormatStatsLine(const RelayEngine& engine, const SpeedSample& speeds);
