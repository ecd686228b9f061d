// vorlane-relay: the relay engine without a window.
// Exit codes: 0 after a stop request (or --help, --version, a good
// --check-config), 1 when listening cannot start, 2 for a malformed option or
// config file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <variant>

#include "cli/console_display.h"
#include "cli/relay_config.h"
#include "cli/relay_options.h"
#include "cli/resolved_config.h"
#include "cli/stats_line.h"
#include "cli/stop_signal.h"
#include "platform/net.h"
#include "relay/event/event_engine.h"
#include "relay/relay_engine.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kStatsInterval = std::chrono::seconds(1);
constexpr int kStopTimeoutMs = 5000;

// Until a stop is requested; with --stats, one line a second.
void RunUntilStopped(RelayControl& engine, ConsoleDisplay& display, bool stats) {
    auto nextTick = std::chrono::steady_clock::now() + kStatsInterval;
    while (!StopRequested()) {
        std::this_thread::sleep_for(kPollInterval);
        if (std::chrono::steady_clock::now() < nextTick) {
            continue;
        }
        nextTick += kStatsInterval;
        const SpeedSample speeds = engine.TickSpeeds();
        if (stats) {
            display.PrintLine(stdout, FormatStatsLine(engine, speeds));
        }
    }
}

// Ends the process without running destructors: the threaded engine's open
// connections keep their pump threads, and none of them may touch the engine
// after it is gone.
[[noreturn]] void ExitNow(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (!net::StartSockets()) {
        PrintUsageError("cannot start the sockets library");
        return 1;
    }
    const ParsedCommandLine commandLine = ParseCommandLine(argc, argv);
    if (!commandLine.options) {
        return commandLine.exitCode;
    }
    const RelayOptions& options = *commandLine.options;
    auto loaded = LoadRelayConfig(options);
    if (const auto* error = std::get_if<ConfigError>(&loaded)) {
        PrintUsageError(error->message);
        return 2;
    }
    const RelayConfig& config = std::get<RelayConfig>(loaded);
    if (options.checkConfig) {
        std::fputs(FormatResolvedConfig(config).c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }

    InstallStopHandlers();
    ConsoleDisplay display;
    std::unique_ptr<RelayControl> engine;
    if (config.engine == EngineChoice::Events) {
        engine = std::make_unique<EventRelayEngine>(display);
    } else {
        engine = std::make_unique<RelayEngine>(display);
    }
    engine->SetHidden(true);  // nothing draws totals; the engine may skip the display
    if (!engine->StartListening(config.start)) {
        return 1;
    }

    RunUntilStopped(*engine, display, config.statsInterval.count() > 0);

    const int endedRuns = display.EndedRuns();
    engine->StopListening();
    if (!display.WaitForRunEnd(endedRuns, kStopTimeoutMs)) {
        PrintUsageError("listening did not stop in time");
        ExitNow(1);
    }
    if (config.engine == EngineChoice::Threads) {
        ExitNow(0);
    }
    // The event engine closes its connections and joins its threads.
    engine.reset();
    return 0;
}
