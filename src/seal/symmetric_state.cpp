#include "seal/symmetric_state.h"

#include <algorithm>
#include <stdexcept>

namespace seal {
namespace {

// HASHLEN is 32 for both hashes and so is the cipher key: a digest is a key.
CipherKey KeyFrom(const Digest& digest) {
    CipherKey key;
    std::copy(digest.bytes.begin(), digest.bytes.end(), key.bytes.begin());
    return key;
}

}  // namespace

SymmetricState::SymmetricState(HashKind kind, std::string_view protocol_name) : kind_(kind) {
    const auto* name = reinterpret_cast<const std::uint8_t*>(protocol_name.data());
    if (protocol_name.size() <= kHashSize) {
        std::copy(name, name + protocol_name.size(), hash_.bytes.begin());
    } else {
        hash_ = NoiseHashOf(kind_, {name, protocol_name.size()});
    }
    chaining_key_ = hash_;
}

void SymmetricState::MixKey(Bytes input_key_material) {
    Digest temp_key;
    NoiseHkdf(kind_, chaining_key_, input_key_material, chaining_key_, temp_key);
    cipher_.InitializeKey(KeyFrom(temp_key));
}

void SymmetricState::MixHash(Bytes data) {
    hash_ = NoiseHashOf(kind_, {hash_.data(), hash_.size()}, data);
}

void SymmetricState::MixKeyAndHash(Bytes input_key_material) {
    Digest temp_hash;
    Digest temp_key;
    NoiseHkdf(kind_, chaining_key_, input_key_material, chaining_key_, temp_hash, &temp_key);
    MixHash({temp_hash.data(), temp_hash.size()});
    cipher_.InitializeKey(KeyFrom(temp_key));
}

void SymmetricState::EncryptAndHash(Bytes plaintext, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    // A handshake uses nonces 0 and 1 of a fresh key; it cannot run out.
    if (cipher_.EncryptWithAd({hash_.data(), hash_.size()}, plaintext, out) != CipherResult::ok) {
        throw std::logic_error("handshake cipher ran out of nonces");
    }
    MixHash({out.data() + start, out.size() - start});
}

bool SymmetricState::DecryptAndHash(Bytes ciphertext, std::vector<std::uint8_t>& out) {
    if (cipher_.DecryptWithAd({hash_.data(), hash_.size()}, ciphertext, out) != CipherResult::ok) {
        return false;
    }
    MixHash(ciphertext);
    return true;
}

std::pair<CipherState, CipherState> SymmetricState::Split() {
    Digest temp_key1;
    Digest temp_key2;
    NoiseHkdf(kind_, chaining_key_, {nullptr, 0}, temp_key1, temp_key2);
    std::pair<CipherState, CipherState> ciphers;
    ciphers.first.InitializeKey(KeyFrom(temp_key1));
    ciphers.second.InitializeKey(KeyFrom(temp_key2));
    return ciphers;
}

}  // namespace seal
