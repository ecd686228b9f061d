#include "server/config/relay_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "relay/start_request.h"
#include "seal/link_key.h"
#include "server/config/relay_config.h"
#include "server/config/setting_values.h"
#include "server/text/printable_text.h"
#include "vorlane_version.h"

namespace {

// The texts as CLI11 sorted them out, before they are checked.
struct RawOptions {
    std::optional<std::string> configPath;
    bool checkConfig = false;
    std::optional<std::string> keyFilePath;
    bool generateKey = false;
    std::array<std::optional<std::string>, kSettingCount> texts;
    std::vector<std::string> allow;
    std::optional<std::string> encode;
    bool quiet = false;
    bool stats = false;
    std::vector<std::string> statsInterval;  // after a bare --stats, CLI11 leaves "" or nothing
};

constexpr char kBareStatsInterval[] = "1";

class BadValue {
  public:
    BadValue(const std::string& option, const std::string& value, const std::string& expected)
        : message_(option + ": '" + value + "' is not " + expected) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

void Replace(std::string& text, const std::string& token, const std::string& value) {
    for (std::size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + value.size())) {
        text.replace(at, token.size(), value);
    }
}

// The row's help with its default and range, and the engines' chunk sizes, filled in.
std::string HelpOf(const SettingRow& row) {
    std::string help = row.help;
    Replace(help, "{default}", row.defaultValue);
    Replace(help, "{min}", std::to_string(row.minValue));
    Replace(help, "{max}", std::to_string(row.maxValue));
    Replace(help, "{events_chunk}", std::to_string(kEventsChunkSize));
    Replace(help, "{threads_chunk}", std::to_string(kThreadsChunkSize));
    Replace(help, "{bare}", kBareStatsInterval);
    return help;
}

template <class Value, std::size_t N>
std::string Choices(const NameTable<Value, N>& names) {
    std::string text;
    for (const auto& [name, value] : names) {
        text += (text.empty() ? "" : "|") + std::string(name);
    }
    return text;
}

std::string ValueNameOf(const SettingRow& row) {
    switch (row.kind) {
        case SettingKind::LogLevel:
            return Choices(kLogLevelNames);
        case SettingKind::Engine:
            return Choices(kEngineNames);
        default:
            return row.valueName;
    }
}

std::string& Text(RawOptions& raw, Setting setting) {
    auto& text = raw.texts[static_cast<std::size_t>(setting)];
    return text.emplace();
}

// Every key with an option, in table order; --encode and --quiet stand for keys too.
CLI::Option* AddSettingOptions(CLI::App& app, RawOptions& raw) {
    CLI::Option* stats = nullptr;
    for (const SettingRow& row : kSettings) {
        if (row.setting == Setting::EncodeClient) {
            app.add_option("--encode", raw.encode,
                           std::string("map bytes both ways: client for the relay beside the "
                                       "clients, server for the one beside the real server "
                                       "(default ") +
                               NameOf(EncodeMode::None, kEncodeModeNames) + ")")
                ->option_text(Choices(kEncodeModeNames));
        }
        if (row.option[0] == '\0') {
            continue;
        }
        CLI::Option* option = nullptr;
        if (row.setting == Setting::AllowFrom) {
            option = app.add_option(row.option, raw.allow, HelpOf(row))->take_all();
        } else if (row.setting == Setting::Stats) {
            option = stats =
                app.add_option(row.option, raw.statsInterval, HelpOf(row))->expected(0, 1);
        } else {
            option = app.add_option(row.option, raw.texts[static_cast<std::size_t>(row.setting)],
                                    HelpOf(row));
        }
        option->option_text(ValueNameOf(row));
        if (row.setting == Setting::LogLevel) {
            app.add_flag("--quiet", raw.quiet, "log errors only (--log-level error)")
                ->excludes(option);
        }
    }
    return stats;
}

// The options for the keys they stand for, each text checked as its key's value.
RelayOptions CheckValues(RawOptions raw) {
    if (raw.encode) {
        const auto mode = CheckEncode(*raw.encode);
        if (!mode) {
            throw BadValue("--encode", *raw.encode, ExpectedEncode());
        }
        Text(raw, Setting::EncodeClient) = *mode == EncodeMode::Client ? "1" : "0";
        Text(raw, Setting::EncodeServer) = *mode == EncodeMode::Server ? "1" : "0";
    }
    if (!raw.allow.empty()) {
        std::string& list = Text(raw, Setting::AllowFrom);
        for (const std::string& item : raw.allow) {
            if (!CheckRange(item)) {
                throw BadValue(RowOf(Setting::AllowFrom).option, item, kExpectedRange);
            }
            list += (list.empty() ? "" : ", ") + item;
        }
    }
    if (raw.quiet) {
        Text(raw, Setting::LogLevel) = NameOf(LogLevel::Error, kLogLevelNames);
    }
    if (raw.stats) {
        const bool bare = raw.statsInterval.empty() || raw.statsInterval.front().empty();
        Text(raw, Setting::Stats) = bare ? kBareStatsInterval : raw.statsInterval.front();
    }
    RelayOptions options;
    options.configPath = raw.configPath;
    options.checkConfig = raw.checkConfig;
    options.keyFilePath = raw.keyFilePath;
    options.given = std::move(raw.texts);
    for (const SettingRow& row : kSettings) {
        const auto& text = options.Given(row.setting);
        // The encode boxes and the list were checked above, as --encode and --allow.
        if (text && row.option[0] != '\0' && row.setting != Setting::AllowFrom &&
            !IsValueOf(row, *text)) {
            throw BadValue(row.option, *text, ExpectedValue(row));
        }
    }
    return options;
}

// One new key on stdout; 1 when libgcrypt cannot make one.
int PrintNewLinkKey() {
    try {
        const std::string text = seal::FormatLinkKey(seal::GenerateLinkKey());
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& error) {
        PrintUsageError(std::string("--generate-key: ") + error.what());
        return 1;
    }
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
    app.add_option("--key-file", raw.keyFilePath,
                   "file holding the link key (LinkKey; sealed link), which wins over the "
                   "config file's")
        ->option_text("FILE");
    app.add_flag("--generate-key", raw.generateKey, "print a new link key and exit");
    CLI::Option* stats = AddSettingOptions(app, raw);
    app.set_version_flag("-V,--version", "vorlane-relay " VORLANE_VERSION_TEXT,
                         "print the version and exit");

    try {
        app.parse(argc, argv);
        raw.stats = stats->count() > 0;
        if (raw.generateKey) {
            return {std::nullopt, PrintNewLinkKey()};
        }
        return {CheckValues(std::move(raw)), 0};
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
