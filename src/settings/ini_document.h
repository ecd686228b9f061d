// An INI file held as its lines, read and changed the way Windows'
// private-profile functions do it, on every platform:
// - "[name]" starts a section; "key=value" is a key; other lines are kept
//   as they are and never match (comments, junk, lines without "=").
// - Section and key names match without regard to ASCII letter case.
// - Blanks around a value are not part of it, nor one pair of matching
//   quotes (single or double) that encloses it.
// - Only the first occurrence of a section is read, and in it the first
//   occurrence of a key.
// - A write replaces a key's value in place, adds a missing key after the
//   last key of its section and a missing section at the end of the file,
//   and leaves every other byte as it was. New lines end in CR LF; a
//   replaced line keeps its own line end.
// Lines may end in CR LF or LF alone. A UTF-8 byte order mark before the first
// line is set aside and kept: Windows would read it as part of the first line
// and miss a "[Vorlane]" there, yet that file is what a user saved from an
// editor that adds the mark, and it means the section.
//
// Parse accepts any bytes (NUL included) and never fails.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether two section or key names match, as the reader matches them.
bool IniNamesMatch(std::string_view a, std::string_view b);

class IniDocument {
  public:
    // One line of a section as a strict reader sees it: a key line (value
    // unquoted and trimmed, as Find gives it) or a line that is neither a
    // key, a comment nor blank (no value).
    struct Entry {
        std::string key;  // for a line without "=", the whole line, trimmed
        std::optional<std::string> value;
    };
    struct Section {
        std::string name;  // empty for the lines before the first header
        std::vector<Entry> entries;
    };

    static IniDocument Parse(std::string_view text);

    // Every section in file order, repeated ones too, each with its entries
    // in order; Find reads only the first of each.
    std::vector<Section> Sections() const;

    // The value of a key, unquoted and without surrounding blanks; nothing
    // when the section or the key is missing or the line has no "=".
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Creates the section and the key as needed.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file, byte for byte as parsed apart from the changes made.
    std::string Serialize() const;

  private:
    enum class LineEnd { CrLf, Lf, None };  // None only for a last line
    struct Line {
        std::string text;  // without its line end
        LineEnd end = LineEnd::CrLf;
    };
    // Lines [first, last) of the first occurrence of a section; first is its header.
    struct SectionSpan {
        std::size_t first = 0;
        std::size_t last = 0;
    };

    std::optional<SectionSpan> FindSection(std::string_view section) const;
    void InsertLine(std::size_t index, std::string text);

    bool byteOrderMark_ = false;
    std::vector<Line> lines_;
};
