// The link key: 32 random bytes that both ends of a sealed link share,
// written as base64 (44 characters, one "=" at the end).
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "seal/wipe.h"

namespace seal {

constexpr std::size_t kLinkKeySize = 32;
using LinkKey = Secret<kLinkKeySize>;

// A key, or a sentence saying what is wrong with the text (never the text
// itself, which may be most of a secret).
std::variant<LinkKey, std::string> ParseLinkKey(std::string_view text);

// A new key from libgcrypt's strongest random source.
LinkKey GenerateLinkKey();

std::string FormatLinkKey(const LinkKey& key);

}  // namespace seal
