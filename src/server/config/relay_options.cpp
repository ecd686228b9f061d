#include "server/config/relay_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <utility>

#include "server/text/printable_text.h"
#include "vorlane_version.h"

namespace {

// The raw texts, checked after CLI11 has sorted them out.
struct RawOptions {
    std::optional<std::string> configPath;
    bool checkConfig = false;
    std::optional<std::string> listenPort;
    std::optional<std::string> target;
    std::optional<std::string> targetPort;
    std::optional<std::string> limit;
    std::optional<std::string> encode;
    std::optional<std::string> buffer;
    std::optional<std::string> bind;
    std::vector<std::string> allow;
    std::optional<std::string> engine;
    std::optional<std::string> connectTimeout;
    std::optional<std::string> idleTimeout;
    std::optional<std::string> firstByteTimeout;
    std::optional<std::string> clientsPerAddress;
    std::optional<std::string> drainTimeout;
    std::optional<std::string> logLevel;
    bool quiet = false;
    bool stats = false;
    std::vector<std::string> statsInterval;  // after a bare --stats, CLI11 leaves "" or nothing
    std::optional<std::string> metrics;
};

constexpr char kBareStatsInterval[] = "1";

class BadValue {
  public:
    BadValue(const std::string& option, const std::string& value, const char* expected)
        : message_(option + ": '" + value + "' is not " + expected) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

// The option's value through its checker; nothing when the option is not given.
template <class Check>
auto Checked(const char* option, const std::optional<std::string>& text, Check check,
             const char* expected) -> decltype(check(std::string_view())) {
    if (!text) {
        return std::nullopt;
    }
    auto value = check(*text);
    if (!value) {
        throw BadValue(option, *text, expected);
    }
    return value;
}

template <class Check>
auto Checked(const char* option, const std::optional<std::string>& text, Check check,
             SettingKind kind) -> decltype(check(std::string_view())) {
    return Checked(option, text, check, ExpectedValue(kind));
}

RelayOptions CheckValues(const RawOptions& raw) {
    RelayOptions options;
    options.configPath = raw.configPath;
    options.checkConfig = raw.checkConfig;
    options.target = raw.target;
    options.listenPort = Checked("--listen", raw.listenPort, CheckPort, SettingKind::Port);
    options.targetPort =
        Checked("--target-port", raw.targetPort, CheckTargetPort, SettingKind::TargetPort);
    options.limit = Checked("--limit", raw.limit, CheckLimit, SettingKind::Limit);
    options.encode = Checked("--encode", raw.encode, CheckEncode, kExpectedEncode);
    options.chunkSize = Checked("--buffer", raw.buffer, CheckBuffer, SettingKind::Buffer);
    options.engine = Checked("--engine", raw.engine, CheckEngine, SettingKind::Engine);
    options.bindAddress = Checked("--bind", raw.bind, CheckAddress, SettingKind::Address);
    if (!raw.allow.empty()) {
        options.allowFrom.emplace();
        for (const std::string& text : raw.allow) {
            options.allowFrom->push_back(*Checked("--allow", text, CheckRange, kExpectedRange));
        }
    }
    options.connectTimeout =
        Checked("--connect-timeout", raw.connectTimeout, CheckSeconds, SettingKind::Seconds);
    options.idleTimeout =
        Checked("--idle-timeout", raw.idleTimeout, CheckSeconds, SettingKind::Seconds);
    options.firstByteTimeout =
        Checked("--first-byte-timeout", raw.firstByteTimeout, CheckSeconds, SettingKind::Seconds);
    options.clientsPerAddress =
        Checked("--clients-per-address", raw.clientsPerAddress, CheckLimit, SettingKind::Limit);
    options.drainTimeout =
        Checked("--drain-timeout", raw.drainTimeout, CheckDrainSeconds, SettingKind::Drain);
    options.logLevel =
        raw.quiet ? LogLevel::Error
                  : Checked("--log-level", raw.logLevel, CheckLogLevel, SettingKind::LogLevel);
    if (raw.stats) {
        const bool bare = raw.statsInterval.empty() || raw.statsInterval.front().empty();
        const std::string interval = bare ? kBareStatsInterval : raw.statsInterval.front();
        options.statsInterval = Checked("--stats", interval, CheckSeconds, SettingKind::Seconds);
    }
    options.metrics = Checked("--metrics", raw.metrics, CheckEndpoint, SettingKind::Endpoint);
    return options;
}

}  // namespace

void PrintUsageError(const std::string& message) {
    std::fprintf(stderr, "vorlane-relay: %s\n", PrintableText(message).c_str());
    std::fflush(stderr);
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
    CLI::App app{
        "Relays every TCP client of a local port to one target, optionally through "
        "the byte map.",
        "vorlane-relay"};
    RawOptions raw;
    app.add_option("--config", raw.configPath,
                   "settings file with a [Vorlane] section; the command line overrides it")
        ->option_text("FILE");
    app.add_flag("--check-config", raw.checkConfig,
                 "print the settings as resolved, as a config file, and exit without listening");
    app.add_option("--listen", raw.listenPort, "local port (default 1987)")->option_text("PORT");
    app.add_option("--target", raw.target,
                   "target address (IPv4; IPv6 with events) or host name (default 127.0.0.1)")
        ->option_text("HOST");
    app.add_option("--target-port", raw.targetPort, "target port (default 1988)")
        ->option_text("PORT");
    app.add_option("--limit", raw.limit, "most relay shares, two per client (default 100)")
        ->option_text("N");
    app.add_option("--encode", raw.encode,
                   "map bytes both ways: client for the relay beside the clients, server for "
                   "the one beside the real server (default none)")
        ->option_text("none|client|server");
    app.add_option(
           "--buffer", raw.buffer,
           "bytes per receive, 1 to 1048576 (default 262144 with events, 2048 with threads)")
        ->option_text("BYTES");
    app.add_option("--bind", raw.bind,
                   "listen on this local IPv4 or IPv6 address only (default all, both families)")
        ->option_text("ADDRESS");
    app.add_option("--allow", raw.allow,
                   "admit only clients in this range (repeatable); others are closed at once")
        ->option_text("CIDR")
        ->take_all();
    app.add_option("--engine", raw.engine,
                   "events: a few threads for every client (default); threads: two per client, "
                   "IPv4 only, as the window runs, with no per-address cap and no time-outs")
        ->option_text("events|threads");
    app.add_option("--connect-timeout", raw.connectTimeout,
                   "give a target that does not answer up after this long (events; default 10, "
                   "0: the system's)")
        ->option_text("SECONDS");
    app.add_option("--idle-timeout", raw.idleTimeout,
                   "close a connection with no bytes either way for this long (events; default 0, "
                   "never)")
        ->option_text("SECONDS");
    app.add_option("--first-byte-timeout", raw.firstByteTimeout,
                   "close a connection on which no byte has moved either way since it was "
                   "accepted after this long (events; default 30, 0: never)")
        ->option_text("SECONDS");
    app.add_option("--clients-per-address", raw.clientsPerAddress,
                   "most clients at once from one IPv4 address or IPv6 /64; more get the "
                   "refusal text (events; default 40, 0: no cap)")
        ->option_text("N");
    app.add_option("--drain-timeout", raw.drainTimeout,
                   "on SIGTERM or SIGINT, let live connections finish for this long, 0 to 60 "
                   "(default 10)")
        ->option_text("SECONDS");
    CLI::Option* logLevel =
        app.add_option("--log-level", raw.logLevel, "what goes to stderr (default info)")
            ->option_text("error|warn|info|debug");
    app.add_flag("--quiet", raw.quiet, "log errors only (--log-level error)")->excludes(logLevel);
    CLI::Option* stats = app.add_option("--stats", raw.statsInterval,
                                        "print a statistics line on stdout every SECONDS "
                                        "(default 1) when something changed, and once a minute")
                             ->option_text("[SECONDS]")
                             ->expected(0, 1);
    app.add_option("--metrics", raw.metrics,
                   "serve Prometheus metrics on /metrics at this port (address 127.0.0.1 unless "
                   "given; IPv6 as [ADDRESS]:PORT)")
        ->option_text("[ADDRESS:]PORT");
    app.set_version_flag("-V,--version", "vorlane-relay " VORLANE_VERSION_TEXT,
                         "print the version and exit");

    try {
        app.parse(argc, argv);
        raw.stats = stats->count() > 0;
        return {CheckValues(raw), 0};
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        std::fflush(stdout);
        return {std::nullopt, 0};
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        std::fflush(stdout);
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& error) {
        PrintUsageError(error.what());
        return {std::nullopt, 2};
    } catch (const BadValue& error) {
        PrintUsageError(error.message());
        return {std::nullopt, 2};
    }
}
