#include "seal/x25519.h"

#include <gcrypt.h>

#include <stdexcept>

#include "seal/gcrypt_init.h"

namespace seal {

KeyPair GenerateKeyPair() {
    EnsureGcryptReady();
    PrivateKey private_key;
    gcry_randomize(private_key.data(), private_key.size(), GCRY_STRONG_RANDOM);
    return KeyPairFrom(private_key);
}

KeyPair KeyPairFrom(const PrivateKey& private_key) {
    EnsureGcryptReady();
    static const PublicKey kBasePoint = {9};
    KeyPair pair;
    pair.private_key = private_key;
    if (gcry_ecc_mul_point(GCRY_ECC_CURVE25519, pair.public_key.data(), private_key.data(),
                           kBasePoint.data()) != 0) {
        throw std::runtime_error("X25519 failed on the base point");
    }
    return pair;
}

std::optional<SharedSecret> Dh(const PrivateKey& private_key, const PublicKey& public_key) {
    EnsureGcryptReady();
    SharedSecret secret;
    if (gcry_ecc_mul_point(GCRY_ECC_CURVE25519, secret.data(), private_key.data(),
                           public_key.data()) != 0) {
        return std::nullopt;
    }
    return secret;
}

}  // namespace seal
