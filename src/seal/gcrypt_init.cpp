#include "seal/gcrypt_init.h"

#include <gcrypt.h>

#include <mutex>
#include <stdexcept>
#include <string>

namespace seal {
namespace {

// gcry_ecc_mul_point, the X25519 entry point, came with 1.9.
constexpr const char* kMinimumVersion = "1.9.0";

void Initialise() {
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
        return;  // someone in this process did it already
    }
#ifndef _WIN32
    // The kernel's generator (getrandom), read afresh for every request. The
    // default one stirs a pool of its own and polls the system for entropy
    // on every cipher and hash it opens: sixty system calls per handshake.
    // Windows keeps the default, whose system type gathers slowly each time.
    gcry_control(GCRYCTL_SET_PREFERRED_RNG_TYPE, GCRY_RNG_TYPE_SYSTEM);
#endif
    if (gcry_check_version(kMinimumVersion) == nullptr) {
        throw std::runtime_error(std::string("libgcrypt ") + gcry_check_version(nullptr) +
                                 " is too old; " + kMinimumVersion + " or later is needed");
    }
    // No secure memory. Its pool is small and fixed, locking it needs
    // privileges the relay does not keep, and a server with thousands of
    // links open would run it dry and fail connections. Our keys live in
    // ordinary memory that we wipe as soon as it is done with; keeping them
    // off swap is left to the host (encrypted or no swap).
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
}

}  // namespace

void EnsureGcryptReady() {
    static std::once_flag once;
    std::call_once(once, Initialise);
}

}  // namespace seal
