// The Noise hash functions (revision 34, section 4.3): HASH, and HKDF built
// on HMAC. Both supported hashes have HASHLEN 32 and BLOCKLEN 64. BLAKE2s is
// here for the published test vectors; the link uses SHA256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "seal/wipe.h"

namespace seal {

constexpr std::size_t kHashSize = 32;
using Digest = Secret<kHashSize>;

enum class HashKind { sha256, blake2s };

std::string_view HashName(HashKind kind);

struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
};

// HASH(a || b), b may be empty.
Digest NoiseHashOf(HashKind kind, Bytes a, Bytes b = {nullptr, 0});

// HKDF(chaining_key, input_key_material, 2 or 3): writes the outputs.
void NoiseHkdf(HashKind kind, const Digest& chaining_key, Bytes input_key_material, Digest& output1,
               Digest& output2, Digest* output3 = nullptr);

}  // namespace seal
