// Numbers of the relay's options and config keys, read strictly. (The window
// reads its fields the lenient way: settings/field_integer.h.)
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Decimal digits only (no sign, no blanks), at most maxValue.
std::optional<std::int64_t> ParseUnsignedDecimal(std::string_view text, std::int64_t maxValue);
