// libgcrypt must be set up once per process before any other call into it.
#pragma once

namespace seal {

// Initialises libgcrypt on first call (thread-safe); later calls return at
// once. Throws std::runtime_error when the library is older than the
// X25519 call this code needs.
void EnsureGcryptReady();

}  // namespace seal
