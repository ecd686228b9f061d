// Curve25519 Diffie-Hellman (RFC 7748) as Noise's "25519" DH functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "seal/wipe.h"

namespace seal {

constexpr std::size_t kDhSize = 32;
using PrivateKey = Secret<kDhSize>;
using PublicKey = std::array<std::uint8_t, kDhSize>;
using SharedSecret = Secret<kDhSize>;

struct KeyPair {
    PrivateKey private_key;
    PublicKey public_key{};
};

// A fresh pair from libgcrypt's strong random source.
KeyPair GenerateKeyPair();

// The pair for a given private key (tests fix ephemeral keys this way).
KeyPair KeyPairFrom(const PrivateKey& private_key);

// Nothing when libgcrypt refuses the peer's point (a low-order point gives
// an all-zero secret, which it rejects).
std::optional<SharedSecret> Dh(const PrivateKey& private_key, const PublicKey& public_key);

}  // namespace seal
