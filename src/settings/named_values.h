// A value's text form and back, through one table of names per kind of value,
// so a name is spelled once however many readers and writers it has.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

template <class Value, std::size_t N>
using NameTable = std::array<std::pair<const char*, Value>, N>;

template <class Value, std::size_t N>
constexpr const char* NameOf(Value value, const NameTable<Value, N>& names) {
    for (const auto& [name, named] : names) {
        if (named == value) {
            return name;
        }
    }
    return "";
}

template <class Value, std::size_t N>
std::optional<Value> ValueNamed(std::string_view text, const NameTable<Value, N>& names) {
    for (const auto& [name, value] : names) {
        if (text == name) {
            return value;
        }
    }
    return std::nullopt;
}

// "one of a, b, c", for the message that rejects a name.
template <class Value, std::size_t N>
std::string OneOfNames(const NameTable<Value, N>& names) {
    std::string text = "one of ";
    for (std::size_t i = 0; i < N; ++i) {
        text += (i == 0 ? "" : ", ") + std::string(names[i].first);
    }
    return text;
}
