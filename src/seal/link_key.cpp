#include "seal/link_key.h"

#include <gcrypt.h>

#include <algorithm>

#include "seal/base64.h"
#include "seal/gcrypt_init.h"

namespace seal {

std::variant<LinkKey, std::string> ParseLinkKey(std::string_view text) {
    if (text.empty()) {
        return std::string("the link key is empty");
    }
    auto bytes = DecodeBase64(text);
    if (!bytes) {
        return std::string("the link key is not base64 (make one with --generate-key)");
    }
    if (bytes->size() != kLinkKeySize) {
        const std::string message = "the link key is " + std::to_string(bytes->size()) +
                                    " bytes; it must be exactly 32 (make one with --generate-key)";
        Wipe(bytes->data(), bytes->size());
        return message;
    }
    LinkKey key;
    std::copy(bytes->begin(), bytes->end(), key.bytes.begin());
    Wipe(bytes->data(), bytes->size());
    return key;
}

LinkKey GenerateLinkKey() {
    EnsureGcryptReady();
    LinkKey key;
    gcry_randomize(key.data(), key.size(), GCRY_VERY_STRONG_RANDOM);
    return key;
}

std::string FormatLinkKey(const LinkKey& key) {
    return EncodeBase64(key.data(), key.size());
}

}  // namespace seal
