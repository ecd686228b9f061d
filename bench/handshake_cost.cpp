// What one sealed link's handshake costs in CPU, and which part of it: the
// X25519 multiplications against the whole exchange of both ends, in process
// and without sockets. Run by hand, never by ctest:
//
//   build/bench/bench/handshake_cost [ROUNDS]
#include <gcrypt.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "seal/gcrypt_init.h"
#include "seal/link_sealer.h"
#include "seal/x25519.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Step>
double MicrosecondsEach(int rounds, Step step) {
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        step();
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
}

// Both ends, from the first handshake message to the responder's open link.
bool OpenOneLink(const seal::LinkKey& key) {
    seal::LinkSealer initiator(seal::Role::initiator, key);
    seal::LinkSealer responder(seal::Role::responder, key);
    std::vector<std::uint8_t> plain;
    for (int leg = 0; leg < 3; ++leg) {
        seal::LinkSealer& from = leg % 2 == 0 ? initiator : responder;
        seal::LinkSealer& to = leg % 2 == 0 ? responder : initiator;
        const std::vector<std::uint8_t> message = from.TakeOutput();
        if (to.Receive({message.data(), message.size()}, plain)) {
            return false;
        }
    }
    return responder.Open();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (rounds <= 0) {
        std::fprintf(stderr, "usage: handshake_cost [ROUNDS]\n");
        return 2;
    }
    seal::EnsureGcryptReady();
    const seal::LinkKey key = seal::GenerateLinkKey();
    const seal::KeyPair peer = seal::GenerateKeyPair();
    std::printf("libgcrypt %s, %d rounds\n", gcry_check_version(nullptr), rounds);
    std::printf("ephemeral key pair (random + base point): %8.1f us\n",
                MicrosecondsEach(rounds, [] { seal::GenerateKeyPair(); }));
    std::printf("X25519 with a peer's key:                %8.1f us\n",
                MicrosecondsEach(rounds, [&] { seal::Dh(peer.private_key, peer.public_key); }));
    bool opened = true;
    std::printf("whole handshake, both ends:               %8.1f us\n",
                MicrosecondsEach(rounds, [&] { opened = OpenOneLink(key) && opened; }));
    return opened ? 0 : 1;
}
