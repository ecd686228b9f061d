// How much vorlane-relay logs: each level includes the ones before it.
#pragma once

enum class LogLevel {
    Error,  // failures only (--quiet)
    Warn,   // and refused clients, warnings
    Info,   // and one line per connection opened and closed (the default)
    Debug,  // and every accepted client
};
