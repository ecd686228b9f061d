// Standard base64 (RFC 4648 section 4, with "=" padding), read strictly:
// no blanks, no line breaks, no missing or extra padding, and the unused
// bits of the last character must be zero, so every byte string has exactly
// one accepted spelling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace seal {

std::string EncodeBase64(const std::uint8_t* data, std::size_t size);

// Nothing when the text is not strict base64.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

}  // namespace seal
