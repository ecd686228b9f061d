#include "server/config/config_file_rules.h"

#include <algorithm>
#include <array>
#include <vector>

#include "settings/setting_keys.h"

namespace {

const SettingRow* FindRow(const std::string& key) {
    const auto row = std::find_if(kSettings.begin(), kSettings.end(),
                                  [&](const SettingRow& r) { return IniNamesMatch(r.key, key); });
    return row == kSettings.end() ? nullptr : &*row;
}

std::optional<std::string> FindEntryFault(const std::vector<IniDocument::Entry>& entries) {
    std::array<bool, kSettingCount> seen{};
    for (const IniDocument::Entry& entry : entries) {
        if (!entry.value) {
            return "'" + entry.key + "' is not a Key=value line";
        }
        const SettingRow* row = FindRow(entry.key);
        if (row == nullptr) {
            return entry.key + "=" + *entry.value + " is not a known key";
        }
        // The first would win silently: an empty AllowFrom= above a real one admits everyone.
        bool& given = seen[static_cast<std::size_t>(row->setting)];
        if (given) {
            return std::string(row->key) + " is given twice";
        }
        given = true;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> FindConfigFileFault(const IniDocument& document) {
    const std::vector<IniDocument::Section> sections = document.Sections();
    const IniDocument::Section* relaySection = nullptr;
    for (const IniDocument::Section& section : sections) {
        if (!IniNamesMatch(section.name, kSettingsSection)) {
            continue;
        }
        if (relaySection != nullptr) {
            return std::string("has a second [") + kSettingsSection + "] section";
        }
        relaySection = &section;
    }
    if (relaySection == nullptr) {
        return std::string("has no [") + kSettingsSection + "] section";
    }
    return FindEntryFault(relaySection->entries);
}
