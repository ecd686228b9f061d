// The StartRequest of a run: each value from the command line, else from the
// config file's [Vorlane] section, else the settings' defaults.
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "cli/relay_options.h"
#include "relay/start_request.h"

// Keys the window neither reads nor writes; only the headless relay uses them.
inline constexpr char kBindAddrKey[] = "BindAddr";
inline constexpr char kAllowFromKey[] = "AllowFrom";  // comma-separated ranges

// Bytes per receive when --buffer is not given: what measured best for each
// engine (the threaded engine keeps the window's chunk).
inline constexpr std::size_t kEventsChunkSize = 262144;
inline constexpr std::size_t kThreadsChunkSize = 2048;

struct StartSettingsError {
    std::string message;  // one line naming the option or key
};

// Values of the file are read as the window reads its fields: numbers are
// signed decimal with empty or non-numeric text as 0, a box is ticked by
// exactly "1", a text keeps at most 255 characters. Only an unreadable file or
// a bad BindAddr or AllowFrom fails.
std::variant<StartRequest, StartSettingsError> BuildStartRequest(const RelayOptions& options);
