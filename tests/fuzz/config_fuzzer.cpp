// libFuzzer target for the relay's whole config reader on a file's bytes:
// a file is taken or refused with one line that names the file, and what
// --check-config prints for a taken file is itself taken and prints the same
// (refused instead when it hides a link key).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz_require.h"
#include "server/config/relay_config.h"
#include "server/config/resolved_config.h"
#include "server/text/printable_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RelayOptions options;
    options.configPath = "fuzz.ini";
    const auto loaded = ResolveRelayConfig(options, bytes);
    if (const auto* error = std::get_if<ConfigError>(&loaded)) {
        Require(error->message.rfind("fuzz.ini: ", 0) == 0, "an error names the file");
        Require(PrintableText(error->message).find_first_of("\r\n\x1b") == std::string::npos,
                "an error prints as one line without escape sequences");
        return 0;
    }
    const RelayConfig& config = std::get<RelayConfig>(loaded);
    const std::string printed = FormatResolvedConfig(config);
    const auto again = ResolveRelayConfig(options, printed);
    if (config.start.linkKey) {
        Require(std::holds_alternative<ConfigError>(again),
                "a print that hides the link key is refused, never run without it");
        return 0;
    }
    Require(std::holds_alternative<RelayConfig>(again), "what --check-config prints is taken");
    Require(FormatResolvedConfig(std::get<RelayConfig>(again)) == printed,
            "what --check-config prints resolves to the same");
    return 0;
}
