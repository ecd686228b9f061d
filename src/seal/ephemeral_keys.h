// Ephemeral key pairs made ahead of need on a thread of their own: a
// handshake finds its pair ready instead of waiting a scalar multiplication
// for it, which is a quarter of what a link costs to open. Each pair is
// handed out once and lives nowhere else after, so forward secrecy holds.
#pragma once

#include "seal/x25519.h"

namespace seal {

// A fresh pair: one made ahead when there is one, else made now. The first
// call starts the thread that keeps a few ready.
KeyPair TakeEphemeralKeyPair();

}  // namespace seal
