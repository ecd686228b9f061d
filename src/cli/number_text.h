// Numbers on the command line, read strictly. (Config values are read the
// lenient way the window reads its fields: settings/field_integer.h.)
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Decimal digits only (no sign, no blanks), at most maxValue.
std::optional<std::int64_t> ParseUnsignedDecimal(std::string_view text, std::int64_t maxValue);
