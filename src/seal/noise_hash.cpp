#include "seal/noise_hash.h"

#include <gcrypt.h>

#include <algorithm>
#include <stdexcept>

#include "seal/gcrypt_init.h"

namespace seal {
namespace {

int DigestId(HashKind kind) {
    return kind == HashKind::sha256 ? GCRY_MD_SHA256 : GCRY_MD_BLAKE2S_256;
}

int HmacId(HashKind kind) {
    return kind == HashKind::sha256 ? GCRY_MAC_HMAC_SHA256 : GCRY_MAC_HMAC_BLAKE2S_256;
}

// HMAC-HASH(key, a || b).
Digest Hmac(HashKind kind, const Digest& key, Bytes a, Bytes b = {nullptr, 0}) {
    gcry_mac_hd_t mac = nullptr;
    if (gcry_mac_open(&mac, HmacId(kind), 0, nullptr) != 0) {
        throw std::runtime_error("libgcrypt has no HMAC for this hash");
    }
    Digest out;
    std::size_t length = out.size();
    const bool ok = gcry_mac_setkey(mac, key.data(), key.size()) == 0 &&
                    (a.size == 0 || gcry_mac_write(mac, a.data, a.size) == 0) &&
                    (b.size == 0 || gcry_mac_write(mac, b.data, b.size) == 0) &&
                    gcry_mac_read(mac, out.data(), &length) == 0 && length == out.size();
    gcry_mac_close(mac);
    if (!ok) {
        throw std::runtime_error("HMAC failed");
    }
    return out;
}

}  // namespace

std::string_view HashName(HashKind kind) {
    return kind == HashKind::sha256 ? "SHA256" : "BLAKE2s";
}

Digest NoiseHashOf(HashKind kind, Bytes a, Bytes b) {
    EnsureGcryptReady();
    gcry_md_hd_t md = nullptr;
    if (gcry_md_open(&md, DigestId(kind), 0) != 0) {
        throw std::runtime_error("libgcrypt has no such hash");
    }
    if (a.size > 0)
        gcry_md_write(md, a.data, a.size);
    if (b.size > 0)
        gcry_md_write(md, b.data, b.size);
    Digest out;
    const unsigned char* result = gcry_md_read(md, 0);
    std::copy(result, result + out.size(), out.bytes.begin());
    gcry_md_close(md);  // wipes its own state
    return out;
}

void NoiseHkdf(HashKind kind, const Digest& chaining_key, Bytes input_key_material, Digest& output1,
               Digest& output2, Digest* output3) {
    EnsureGcryptReady();
    const Digest temp_key = Hmac(kind, chaining_key, input_key_material);
    const std::uint8_t one = 0x01;
    output1 = Hmac(kind, temp_key, {&one, 1});
    const std::uint8_t two = 0x02;
    output2 = Hmac(kind, temp_key, {output1.data(), output1.size()}, {&two, 1});
    if (output3 != nullptr) {
        const std::uint8_t three = 0x03;
        *output3 = Hmac(kind, temp_key, {output2.data(), output2.size()}, {&three, 1});
    }
}

}  // namespace seal
