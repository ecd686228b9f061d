#include "server/text/number_text.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::int64_t> ParseUnsignedDecimal(std::string_view text, std::int64_t maxValue) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > maxValue) {
            return std::nullopt;  // also keeps the next step from overflowing
        }
    }
    return value;
}
