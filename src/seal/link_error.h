// Why a sealed link must be closed. Each is the peer's doing (or a cut),
// never ours: the caller closes the connection and logs the name.
#pragma once

#include <string_view>

namespace seal {

enum class LinkError {
    // The handshake did not complete with our key: a wrong key, a cut or
    // malformed handshake message, or (responder) a first transport
    // message that does not authenticate, which is where a replayed first
    // handshake message ends.
    handshake_failed,
    // After the handshake: a message cut short, shorter than its tag, or
    // one that does not authenticate (altered, reordered, replayed).
    bad_message,
    // 2^64-1 messages went one way under one key; Noise reserves the last.
    nonce_exhausted,
};

constexpr std::string_view LinkErrorName(LinkError error) {
    switch (error) {
        case LinkError::handshake_failed:
            return "handshake_failed";
        case LinkError::bad_message:
            return "bad_message";
        case LinkError::nonce_exhausted:
            return "nonce_exhausted";
    }
    return "unknown";
}

}  // namespace seal
