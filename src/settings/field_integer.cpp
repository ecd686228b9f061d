#include "settings/field_integer.h"

#include <cstdint>
#include <limits>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A "#newline#" loads as CR LF, so line breaks count as white space too.
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

int ReadFieldInteger(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front())) {
        text.remove_prefix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<int>::max()} + 1;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) {
            return 0;
        }
    }
    const std::int64_t result = negative ? -value : value;
    if (result > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<int>(result);
}
