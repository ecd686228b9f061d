#include "settings/ini_document.h"

#include <utility>

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// The name of a "[name]" line. A "[" without a closing "]" is no section.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = text.rfind(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(text.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    const std::string_view text = Trim(line);
    return !text.empty() && text.front() == ';';
}

struct KeyValue {
    std::string_view key;
    std::string_view value;  // trimmed, still quoted
};

std::optional<KeyValue> ParseKeyLine(std::string_view line) {
    if (SectionName(line) || IsComment(line)) {
        return std::nullopt;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyValue{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string KeyLineText(std::string_view key, std::string_view value) {
    std::string text;
    text.reserve(key.size() + 1 + value.size());
    text.append(key).append("=").append(value);
    return text;
}

}  // namespace

bool IniNamesMatch(std::string_view a, std::string_view b) {
    return EqualsIgnoringCase(a, b);
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument document;
    if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
        document.byteOrderMark_ = true;
        text.remove_prefix(kUtf8ByteOrderMark.size());
    }
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        Line line;
        if (newline == std::string_view::npos) {
            line.text = std::string(text);
            line.end = LineEnd::None;
            text = {};
        } else {
            std::string_view body = text.substr(0, newline);
            line.end = LineEnd::Lf;
            if (!body.empty() && body.back() == '\r') {
                body.remove_suffix(1);
                line.end = LineEnd::CrLf;
            }
            line.text = std::string(body);
            text.remove_prefix(newline + 1);
        }
        document.lines_.push_back(std::move(line));
    }
    return document;
}

std::optional<IniDocument::SectionSpan> IniDocument::FindSection(std::string_view section) const {
    for (std::size_t first = 0; first < lines_.size(); ++first) {
        const auto name = SectionName(lines_[first].text);
        if (!name || !EqualsIgnoringCase(*name, section)) {
            continue;
        }
        std::size_t last = first + 1;
        while (last < lines_.size() && !SectionName(lines_[last].text)) {
            ++last;
        }
        return SectionSpan{first, last};
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const auto span = FindSection(section);
    if (!span) {
        return std::nullopt;
    }
    for (std::size_t i = span->first + 1; i < span->last; ++i) {
        const auto entry = ParseKeyLine(lines_[i].text);
        if (entry && EqualsIgnoringCase(entry->key, key)) {
            return std::string(Unquote(entry->value));
        }
    }
    return std::nullopt;
}

std::vector<IniDocument::Section> IniDocument::Sections() const {
    std::vector<Section> sections(1);
    for (const Line& line : lines_) {
        if (const auto name = SectionName(line.text)) {
            sections.push_back(Section{std::string(*name), {}});
        } else if (const auto entry = ParseKeyLine(line.text)) {
            sections.back().entries.push_back(
                Entry{std::string(entry->key), std::string(Unquote(entry->value))});
        } else if (!Trim(line.text).empty() && !IsComment(line.text)) {
            sections.back().entries.push_back(Entry{std::string(Trim(line.text)), std::nullopt});
        }
    }
    return sections;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const auto span = FindSection(section);
    if (!span) {
        const bool separate = !lines_.empty() && !Trim(lines_.back().text).empty();
        if (separate) {
            InsertLine(lines_.size(), "");
        }
        InsertLine(lines_.size(), "[" + std::string(section) + "]");
        InsertLine(lines_.size(), KeyLineText(key, value));
        return;
    }
    // A new key goes after the section's last entry, before the blank lines
    // and comments that lead into the next section.
    std::size_t lastEntry = span->first;
    for (std::size_t i = span->first + 1; i < span->last; ++i) {
        const std::string& text = lines_[i].text;
        const auto entry = ParseKeyLine(text);
        if (entry && EqualsIgnoringCase(entry->key, key)) {
            lines_[i].text = KeyLineText(entry->key, value);
            return;
        }
        if (!Trim(text).empty() && !IsComment(text)) {
            lastEntry = i;
        }
    }
    InsertLine(lastEntry + 1, KeyLineText(key, value));
}

void IniDocument::InsertLine(std::size_t index, std::string text) {
    if (index > 0 && lines_[index - 1].end == LineEnd::None) {
        lines_[index - 1].end = LineEnd::CrLf;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index),
                  Line{std::move(text), LineEnd::CrLf});
}

std::string IniDocument::Serialize() const {
    std::string text;
    if (byteOrderMark_) {
        text.append(kUtf8ByteOrderMark);
    }
    for (const Line& line : lines_) {
        text.append(line.text);
        if (line.end == LineEnd::CrLf) {
            text.append("\r\n");
        } else if (line.end == LineEnd::Lf) {
            text.append("\n");
        }
    }
    return text;
}
