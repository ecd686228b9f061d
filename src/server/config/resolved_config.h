// What --check-config prints: the settings as the relay resolved them, as a
// config file that gives the same run.
#pragma once

#include <string>

#include "server/config/relay_config.h"

// "[Vorlane]" and one "Key=value" line per setting of the table the relay
// uses, in table order, lines ending in LF. A link key shows only as set.
std::string FormatResolvedConfig(const RelayConfig& config);
