#include "server/text/printable_text.h"

#include <cstddef>

namespace {

// The length of the valid UTF-8 sequence that starts the text; 0 when none does.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range, narrowed to refuse overlong forms
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    // U+0080 to U+009F are control characters too (0xC2 0x9B starts a terminal command).
    if (lead == 0xC2 && byte(1) <= 0x9F) {
        return 0;
    }
    return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

}  // namespace

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        std::size_t taken = 1;
        if (byte >= 0x20 && byte < 0x7F) {
            out += text.front();
        } else if (const std::size_t length = byte >= 0x80 ? Utf8SequenceLength(text) : 0) {
            out.append(text.substr(0, length));
            taken = length;
        } else {
            AppendEscaped(out, byte);
        }
        text.remove_prefix(taken);
    }
    return out;
}
