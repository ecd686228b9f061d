#include "server/service/relay_engines.h"

#include "relay/event/event_engine.h"
#include "relay/relay_engine.h"

std::unique_ptr<RelayControl> MakeRelayEngine(EngineChoice engine, RelayDisplay& display,
                                              RelayEvents& events) {
    switch (engine) {
        case EngineChoice::Events:
            return std::make_unique<EventRelayEngine>(display, events);
        case EngineChoice::Threads:
            return std::make_unique<RelayEngine>(display, events);
    }
    return nullptr;
}
