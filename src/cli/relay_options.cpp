#include "cli/relay_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <utility>

#include "cli/address_text.h"
#include "cli/number_text.h"
#include "vorlane_version.h"

namespace {

constexpr std::int64_t kMaxPort = 65535;
constexpr std::int64_t kMaxLimit = 2147483647;
constexpr std::int64_t kMaxChunkSize = 1048576;
constexpr std::int64_t kMaxTimeoutSeconds = std::int64_t{86400} * 365;

// The raw texts, checked after CLI11 has sorted them out.
struct RawOptions {
    std::optional<std::string> configPath;
    std::optional<std::string> listenPort;
    std::optional<std::string> target;
    std::optional<std::string> targetPort;
    std::optional<std::string> limit;
    std::optional<std::string> encode;
    std::optional<std::string> buffer;
    bool stats = false;
    std::optional<std::string> bind;
    std::vector<std::string> allow;
    std::optional<std::string> engine;
    std::optional<std::string> connectTimeout;
    std::optional<std::string> idleTimeout;
};

class BadValue {
  public:
    BadValue(const std::string& option, const std::string& value, const char* expected)
        : message_(option + ": '" + value + "' is not " + expected) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

int CheckNumber(const std::string& option, const std::string& text, std::int64_t minValue,
                std::int64_t maxValue, const char* expected) {
    const auto value = ParseUnsignedDecimal(text, maxValue);
    if (!value || *value < minValue) {
        throw BadValue(option, text, expected);
    }
    return static_cast<int>(*value);
}

EncodeChoice CheckEncode(const std::string& text) {
    if (text == "none") {
        return EncodeChoice::None;
    }
    if (text == "client") {
        return EncodeChoice::Client;
    }
    if (text == "server") {
        return EncodeChoice::Server;
    }
    throw BadValue("--encode", text, "one of none, client, server");
}

EngineChoice CheckEngine(const std::string& text) {
    if (text == "events") {
        return EngineChoice::Events;
    }
    if (text == "threads") {
        return EngineChoice::Threads;
    }
    throw BadValue("--engine", text, "one of events, threads");
}

std::chrono::milliseconds CheckSeconds(const std::string& option, const std::string& text) {
    return std::chrono::seconds(
        CheckNumber(option, text, 0, kMaxTimeoutSeconds, "a number of seconds, 0 or more"));
}

RelayOptions CheckValues(const RawOptions& raw) {
    RelayOptions options;
    options.configPath = raw.configPath;
    options.target = raw.target;
    options.stats = raw.stats;
    if (raw.listenPort) {
        options.listenPort =
            CheckNumber("--listen", *raw.listenPort, 0, kMaxPort, "a port number from 0 to 65535");
    }
    if (raw.targetPort) {
        options.targetPort = CheckNumber("--target-port", *raw.targetPort, 1, kMaxPort,
                                         "a port number from 1 to 65535");
    }
    if (raw.limit) {
        options.limit =
            CheckNumber("--limit", *raw.limit, 0, kMaxLimit, "a connection limit of 0 or more");
    }
    if (raw.encode) {
        options.encode = CheckEncode(*raw.encode);
    }
    if (raw.buffer) {
        options.chunkSize = static_cast<std::size_t>(CheckNumber(
            "--buffer", *raw.buffer, 1, kMaxChunkSize, "a size from 1 to 1048576 bytes"));
    }
    if (raw.engine) {
        options.engine = CheckEngine(*raw.engine);
    }
    if (raw.bind) {
        options.bindAddress = net::IpAddress::Parse(*raw.bind);
        if (!options.bindAddress) {
            throw BadValue("--bind", *raw.bind, "an IPv4 or IPv6 address");
        }
        if (options.engine == EngineChoice::Threads && !options.bindAddress->IsV4()) {
            throw BadValue("--bind", *raw.bind, "an IPv4 address (the threads engine has no IPv6)");
        }
    }
    if (!raw.allow.empty()) {
        options.allowFrom.emplace();
        for (const std::string& text : raw.allow) {
            const auto range = net::IpRange::Parse(text);
            if (!range) {
                throw BadValue("--allow", text, "a range such as 10.0.0.0/8, 10.1.2.3 or fd00::/8");
            }
            options.allowFrom->push_back(*range);
        }
    }
    if (raw.connectTimeout) {
        options.connectTimeout = CheckSeconds("--connect-timeout", *raw.connectTimeout);
    }
    if (raw.idleTimeout) {
        options.idleTimeout = CheckSeconds("--idle-timeout", *raw.idleTimeout);
    }
    return options;
}

}  // namespace

void PrintUsageError(const std::string& message) {
    std::fprintf(stderr, "vorlane-relay: %s\n", message.c_str());
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
    app.add_option("--listen", raw.listenPort, "local port (default 1987)")->option_text("PORT");
    app.add_option("--target", raw.target,
                   "target address (IPv4; IPv6 with events) or host name (default 127.0.0.1)")
        ->option_text("HOST");
    app.add_option("--target-port", raw.targetPort, "target port (default 1988)")
        ->option_text("PORT");
    app.add_option("--limit", raw.limit, "most pump threads, two per client (default 100)")
        ->option_text("N");
    app.add_option("--encode", raw.encode,
                   "map bytes both ways: client for the relay beside the clients, server for "
                   "the one beside the real server (default none)")
        ->option_text("none|client|server");
    app.add_option(
           "--buffer", raw.buffer,
           "bytes per receive, 1 to 1048576 (default 262144 with events, 2048 with threads)")
        ->option_text("BYTES");
    app.add_flag("--stats", raw.stats, "print totals, speeds and connections once a second");
    app.add_option("--bind", raw.bind,
                   "listen on this local IPv4 or IPv6 address only (default all, both families)")
        ->option_text("ADDRESS");
    app.add_option("--allow", raw.allow,
                   "admit only clients in this range (repeatable); others are closed at once")
        ->option_text("CIDR")
        ->take_all();
    app.add_option("--engine", raw.engine,
                   "events: a few threads for every client (default); threads: two per client, "
                   "IPv4 only, as the window runs")
        ->option_text("events|threads");
    app.add_option("--connect-timeout", raw.connectTimeout,
                   "give a target that does not answer up after this long (events; default 10, "
                   "0: the system's)")
        ->option_text("SECONDS");
    app.add_option("--idle-timeout", raw.idleTimeout,
                   "close a connection with no bytes either way for this long (events; default 0, "
                   "never)")
        ->option_text("SECONDS");
    app.set_version_flag("-V,--version", "vorlane-relay " VORLANE_VERSION_TEXT,
                         "print the version and exit");

    try {
        app.parse(argc, argv);
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
