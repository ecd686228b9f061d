// Numbers from text, the strict way for the command line and the lenient way
// the window reads its fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Decimal digits only (no sign, no blanks), at most maxValue.
std::optional<std::int64_t> ParseUnsignedDecimal(std::string_view text, std::int64_t maxValue);

// A signed decimal number at the start of the text, after white space; what
// follows it is ignored. Empty text, text that does not begin with a number,
// or a number outside int gives 0, as an edit field read as an integer does.
int ReadFieldInteger(std::string_view text);
