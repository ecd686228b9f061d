// The two engines of the relay, for tests that run every case against both.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "relay/event/event_engine.h"
#include "relay/relay_engine.h"

namespace testing_support {

// Every behaviour test runs against both engines.
enum class EngineKind { Threads, Events };

inline std::unique_ptr<RelayControl> MakeEngine(EngineKind kind, RelayDisplay& display) {
    if (kind == EngineKind::Events) {
        return std::make_unique<EventRelayEngine>(display);
    }
    return std::make_unique<RelayEngine>(display);
}

// One that reports to `events` instead of wording its reports on the display.
inline std::unique_ptr<RelayControl> MakeEngine(EngineKind kind, RelayDisplay& display,
                                                RelayEvents& events) {
    if (kind == EngineKind::Events) {
        return std::make_unique<EventRelayEngine>(display, events);
    }
    return std::make_unique<RelayEngine>(display, events);
}

inline void PrintTo(EngineKind kind, std::ostream* out) {
    *out << (kind == EngineKind::Events ? "events" : "threads");
}

inline std::string EngineName(const testing::TestParamInfo<EngineKind>& info) {
    return info.param == EngineKind::Events ? "Events" : "Threads";
}

#define VORLANE_FOR_BOTH_ENGINES(Suite)          \
    INSTANTIATE_TEST_SUITE_P(BothEngines, Suite, \
                             testing::Values(EngineKind::Threads, EngineKind::Events), EngineName)

}  // namespace testing_support
