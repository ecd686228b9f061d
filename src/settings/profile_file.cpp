#include "settings/profile_file.h"

#include <cstdio>
#include <memory>

namespace {

std::string_view TrimTrailingBlanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string ProfileValue(const IniDocument& document, std::string_view section,
                         std::string_view key, std::string_view defaultValue, int bufferSize) {
    if (bufferSize <= 0) {
        return {};
    }
    const std::optional<std::string> found = document.Find(section, key);
    std::string_view value = found ? std::string_view(*found) : TrimTrailingBlanks(defaultValue);
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, static_cast<std::size_t>(bufferSize) - 1));
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue, int bufferSize) {
    const std::optional<std::string> bytes = ReadFileBytes(path);
    const IniDocument document = IniDocument::Parse(bytes ? *bytes : std::string());
    return ProfileValue(document, section, key, defaultValue, bufferSize);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    // stdio rather than a stream: reading a directory must fail, not throw.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes.append(chunk, count);
    }
    if (std::ferror(file.get())) {
        return std::nullopt;
    }
    return bytes;
}
