// A Noise CipherState (revision 34, section 5.1) over ChaChaPoly: a key, a
// 64-bit nonce that counts messages, and AEAD with associated data.
#pragma once

#include <cstdint>
#include <vector>

#include "seal/noise_hash.h"
#include "seal/wipe.h"

namespace seal {

constexpr std::size_t kTagSize = 16;
constexpr std::size_t kCipherKeySize = 32;
using CipherKey = Secret<kCipherKeySize>;

enum class CipherResult {
    ok,
    // The ciphertext does not authenticate.
    failed,
    // 2^64-1 messages went under this key; the last nonce is reserved.
    nonce_exhausted,
};

class CipherState {
  public:
    CipherState() = default;
    ~CipherState();
    CipherState(const CipherState&) = delete;
    CipherState& operator=(const CipherState&) = delete;
    CipherState(CipherState&& other) noexcept;
    CipherState& operator=(CipherState&& other) noexcept;

    void InitializeKey(const CipherKey& key);
    bool HasKey() const { return handle_ != nullptr; }
    // Only for tests that reach the end of the nonce range.
    void SetNonce(std::uint64_t nonce) { nonce_ = nonce; }

    // Appends the ciphertext and tag to out; without a key, the plaintext.
    CipherResult EncryptWithAd(Bytes ad, Bytes plaintext, std::vector<std::uint8_t>& out);
    // Appends the plaintext to out only when the message authenticates;
    // on failure out and the nonce are as they were.
    CipherResult DecryptWithAd(Bytes ad, Bytes ciphertext, std::vector<std::uint8_t>& out);

  private:
    void Close();

    void* handle_ = nullptr;  // gcry_cipher_hd_t with the key set
    std::uint64_t nonce_ = 0;
};

}  // namespace seal
