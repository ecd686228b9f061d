#include "cli/relay_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <utility>

#include "cli/ipv4_text.h"
#include "cli/number_text.h"
#include "vorlane_version.h"

namespace {

constexpr std::int64_t kMaxPort = 65535;
constexpr std::int64_t kMaxLimit = 2147483647;
constexpr std::int64_t kMaxChunkSize = 1048576;

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
    if (raw.bind) {
        options.bindAddr = ParseDottedAddress(*raw.bind);
        if (!options.bindAddr) {
            throw BadValue("--bind", *raw.bind, "a dotted IPv4 address");
        }
    }
    if (!raw.allow.empty()) {
        options.allowFrom.emplace();
        for (const std::string& text : raw.allow) {
            const auto range = ParseAllowRange(text);
            if (!range) {
                throw BadValue("--allow", text, "an IPv4 range such as 10.0.0.0/8 or 10.1.2.3");
            }
            options.allowFrom->push_back(*range);
        }
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
    app.add_option("--target", raw.target, "target IPv4 address or host name (default 127.0.0.1)")
        ->option_text("HOST");
    app.add_option("--target-port", raw.targetPort, "target port (default 1988)")
        ->option_text("PORT");
    app.add_option("--limit", raw.limit, "most pump threads, two per client (default 100)")
        ->option_text("N");
    app.add_option("--encode", raw.encode,
                   "map bytes both ways: client for the relay beside the clients, server for "
                   "the one beside the real server (default none)")
        ->option_text("none|client|server");
    app.add_option("--buffer", raw.buffer, "bytes per receive, 1 to 1048576 (default 2048)")
        ->option_text("BYTES");
    app.add_flag("--stats", raw.stats, "print totals, speeds and connections once a second");
    app.add_option("--bind", raw.bind, "listen on this local IPv4 address only (default all)")
        ->option_text("ADDRESS");
    app.add_option("--allow", raw.allow,
                   "admit only clients in this range (repeatable); others are closed at once")
        ->option_text("CIDR")
        ->take_all();
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
