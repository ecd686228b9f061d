#include "seal/cipher_state.h"

#include <gcrypt.h>

#include <stdexcept>

#include "seal/gcrypt_init.h"

namespace seal {
namespace {

constexpr std::uint64_t kReservedNonce = ~std::uint64_t{0};

gcry_cipher_hd_t Handle(void* handle) {
    return static_cast<gcry_cipher_hd_t>(handle);
}

// ChaChaPoly's 96-bit nonce: 32 zero bits, then n little-endian.
bool Start(gcry_cipher_hd_t handle, std::uint64_t nonce, Bytes ad) {
    std::uint8_t iv[12] = {};
    for (int i = 0; i < 8; ++i) {
        iv[4 + i] = static_cast<std::uint8_t>(nonce >> (8 * i));
    }
    return gcry_cipher_setiv(handle, iv, sizeof iv) == 0 &&
           (ad.size == 0 || gcry_cipher_authenticate(handle, ad.data, ad.size) == 0);
}

}  // namespace

CipherState::~CipherState() {
    Close();
}

CipherState::CipherState(CipherState&& other) noexcept
    : handle_(other.handle_), nonce_(other.nonce_) {
    other.handle_ = nullptr;
}

CipherState& CipherState::operator=(CipherState&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        nonce_ = other.nonce_;
        other.handle_ = nullptr;
    }
    return *this;
}

void CipherState::Close() {
    if (handle_ != nullptr) {
        gcry_cipher_close(Handle(handle_));  // wipes the key schedule
        handle_ = nullptr;
    }
}

void CipherState::InitializeKey(const CipherKey& key) {
    EnsureGcryptReady();
    Close();
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_POLY1305, 0) != 0) {
        throw std::runtime_error("libgcrypt has no ChaCha20-Poly1305");
    }
    if (gcry_cipher_setkey(handle, key.data(), key.size()) != 0) {
        gcry_cipher_close(handle);
        throw std::runtime_error("ChaCha20-Poly1305 refused its key");
    }
    handle_ = handle;
    nonce_ = 0;
}

CipherResult CipherState::EncryptWithAd(Bytes ad, Bytes plaintext, std::vector<std::uint8_t>& out) {
    if (!HasKey()) {
        out.insert(out.end(), plaintext.data, plaintext.data + plaintext.size);
        return CipherResult::ok;
    }
    if (nonce_ == kReservedNonce) {
        return CipherResult::nonce_exhausted;
    }
    const std::size_t start = out.size();
    out.resize(start + plaintext.size + kTagSize);
    std::uint8_t* sealed = out.data() + start;
    const bool ok =
        Start(Handle(handle_), nonce_, ad) &&
        (plaintext.size == 0 || gcry_cipher_encrypt(Handle(handle_), sealed, plaintext.size,
                                                    plaintext.data, plaintext.size) == 0) &&
        gcry_cipher_gettag(Handle(handle_), sealed + plaintext.size, kTagSize) == 0;
    if (!ok) {
        out.resize(start);
        throw std::runtime_error("ChaCha20-Poly1305 encryption failed");
    }
    ++nonce_;
    return CipherResult::ok;
}

CipherResult CipherState::DecryptWithAd(Bytes ad, Bytes ciphertext,
                                        std::vector<std::uint8_t>& out) {
    if (!HasKey()) {
        out.insert(out.end(), ciphertext.data, ciphertext.data + ciphertext.size);
        return CipherResult::ok;
    }
    if (nonce_ == kReservedNonce) {
        return CipherResult::nonce_exhausted;
    }
    if (ciphertext.size < kTagSize) {
        return CipherResult::failed;
    }
    const std::size_t length = ciphertext.size - kTagSize;
    const std::size_t start = out.size();
    out.resize(start + length);
    std::uint8_t* plain = out.data() + start;
    const bool ok = Start(Handle(handle_), nonce_, ad) &&
                    (length == 0 || gcry_cipher_decrypt(Handle(handle_), plain, length,
                                                        ciphertext.data, length) == 0) &&
                    gcry_cipher_checktag(Handle(handle_), ciphertext.data + length, kTagSize) == 0;
    if (!ok) {
        // Plaintext of a forged message must not linger where a caller might read it.
        Wipe(plain, length);
        out.resize(start);
        return CipherResult::failed;
    }
    ++nonce_;
    return CipherResult::ok;
}

}  // namespace seal
