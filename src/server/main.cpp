// vorlane-relay: the relay engine without a window.
// Exit codes: 0 after a stop request (or --help, --version, a good --check-config),
// 1 when listening or the metrics endpoint cannot start, 2 for a malformed option,
// config file or config value.
#include <chrono>
#include <cstdio>
#include <variant>

#include "platform/net.h"
#include "server/config/relay_config.h"
#include "server/config/relay_options.h"
#include "server/config/resolved_config.h"
#include "server/logging/log_writer.h"
#include "server/service/process_signals.h"
#include "server/service/relay_service.h"

namespace {

constexpr std::chrono::seconds kLastLinesTime{1};

}  // namespace

int main(int argc, char** argv) {
    // Before anything else: a SIGHUP or SIGTERM while the config is read
    // would otherwise end the process by its default action.
    HoldSignals();
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
    RelayConfig config = std::get<RelayConfig>(std::move(loaded));
    if (options.checkConfig) {
        std::fputs(FormatResolvedConfig(config).c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }

    const LogStyle style = LogWriter::StderrIsJournal() ? LogStyle::Journal : LogStyle::Stamped;
    LogWriter log(stderr, config.logLevel, style);
    LogWriter statsOut(stdout, config.logLevel, style);
    // Outlives the service, so that a second stop ends even its drain at once.
    const SignalWatch signals([&log, &statsOut] {
        log.Write(LogLine(LogLevel::Warn, "stopped_at_once"));
        // What is queued goes out, unless the streams block: the point is to end now.
        statsOut.FlushWithin(kLastLinesTime);
        log.FlushWithin(kLastLinesTime);
    });
    RelayService service(options, std::move(config), log, statsOut);
    return service.Run();
}
