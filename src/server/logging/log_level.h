// How much vorlane-relay logs: each level includes the ones before it.
#pragma once

#include "settings/named_values.h"

enum class LogLevel {
    Error,  // failures only (--quiet)
    Warn,   // and refused clients, warnings
    Info,   // and one line per connection opened and closed (the default)
    Debug,  // and every accepted client
};

// The names --log-level, the LogLevel key and every log line spell.
inline constexpr NameTable<LogLevel, 4> kLogLevelNames = {{
    {"error", LogLevel::Error},
    {"warn", LogLevel::Warn},
    {"info", LogLevel::Info},
    {"debug", LogLevel::Debug},
}};
