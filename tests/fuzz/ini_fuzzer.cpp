// libFuzzer target for the settings reader: any bytes must parse, keep every
// byte on the way back out, answer every read, and take a write that is then
// found again. A broken rule aborts, so the fuzzer reports it with its input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_require.h"
#include "settings/ini_document.h"
#include "settings/newline_marker.h"
#include "settings/profile_file.h"
#include "settings/setting_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniDocument document = IniDocument::Parse(text);
    Require(document.Serialize() == text, "parsing keeps every byte");

    for (const SettingRow& row : kSettings) {
        for (int bufferSize : {1, 2, kSettingValueBufferSize}) {
            const std::string value =
                ProfileValue(document, kSettingsSection, row.key, row.defaultValue, bufferSize);
            Require(value.size() < static_cast<std::size_t>(bufferSize), "a read fits its buffer");
        }
        const std::string stored =
            ProfileValue(document, kSettingsSection, row.key, "", kSettingValueBufferSize);
        Require(NewlineMarkersToCrLf(stored).find(kNewlineMarker) == std::string::npos,
                "no marker is left after loading");
    }
    Require(CrLfToNewlineMarkers(text).find("\r\n") == std::string::npos,
            "no line break is left for saving");

    document.Set(kSettingsSection, "DestAddr", "host name");
    document.Set("Other", "Key", "'quoted'");
    Require(document.Find("vorlane", "destaddr") == "host name", "a written key is found");
    Require(document.Find("OTHER", "key") == "quoted", "quotes are not part of a value");
    const std::string written = document.Serialize();
    Require(IniDocument::Parse(written).Serialize() == written, "a written file parses back");
    return 0;
}
