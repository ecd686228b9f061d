// A Noise SymmetricState (revision 34, section 5.2): the chaining key, the
// handshake hash and the cipher the handshake encrypts its payloads with.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "seal/cipher_state.h"
#include "seal/noise_hash.h"

namespace seal {

class SymmetricState {
  public:
    SymmetricState(HashKind kind, std::string_view protocol_name);

    void MixKey(Bytes input_key_material);
    void MixHash(Bytes data);
    void MixKeyAndHash(Bytes input_key_material);
    // Append to out; Decrypt appends nothing and returns false when the
    // ciphertext does not authenticate.
    void EncryptAndHash(Bytes plaintext, std::vector<std::uint8_t>& out);
    bool DecryptAndHash(Bytes ciphertext, std::vector<std::uint8_t>& out);
    // The initiator's sending cipher first, the responder's second.
    std::pair<CipherState, CipherState> Split();

  private:
    HashKind kind_;
    Digest chaining_key_;
    Digest hash_;
    CipherState cipher_;
};

}  // namespace seal
