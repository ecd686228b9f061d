// The Noise handshake NNpsk0 over 25519 and ChaChaPoly (revision 34):
//   -> psk, e
//   <- e, ee
// Two messages, no static keys: the shared link key authenticates both
// sides, and the ephemeral keys give each link fresh transport keys.
// Each side writes and reads its messages in turn; any failure leaves the
// handshake failed for good.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "seal/cipher_state.h"
#include "seal/link_key.h"
#include "seal/symmetric_state.h"
#include "seal/x25519.h"

namespace seal {

enum class Role { initiator, responder };

// Both sides' transport ciphers once the handshake is done.
struct TransportCiphers {
    CipherState send;
    CipherState receive;
};

class NnPsk0Handshake {
  public:
    // The prologue is bound into the handshake hash: both sides must agree
    // on it. fixed_ephemeral is only for the published test vectors; left
    // empty, the ephemeral key comes from the strong random source.
    NnPsk0Handshake(Role role, HashKind kind, const LinkKey& psk, Bytes prologue,
                    std::optional<PrivateKey> fixed_ephemeral = std::nullopt);

    static std::string ProtocolName(HashKind kind);
    // The size of either message with an empty payload.
    static constexpr std::size_t kEmptyMessageSize = kDhSize + kTagSize;

    Role role() const { return role_; }
    bool MyTurnToWrite() const;
    bool Finished() const { return step_ == Step::finished; }
    bool Failed() const { return step_ == Step::failed; }

    // Appends the next message to out; false when it is not this side's turn.
    bool WriteMessage(Bytes payload, std::vector<std::uint8_t>& out);
    // Appends the message's payload to out; false when it is not this side's
    // turn or the message is malformed or does not authenticate.
    bool ReadMessage(Bytes message, std::vector<std::uint8_t>& payload);

    // Once Finished: this side's ciphers. Call once.
    TransportCiphers Split();

  private:
    enum class Step { first_message, second_message, finished, failed };

    void WriteEphemeral(std::vector<std::uint8_t>& out);
    void ReadEphemeral(const std::uint8_t* message);
    bool MixEphemeralDh();

    Role role_;
    Step step_ = Step::first_message;
    SymmetricState symmetric_;
    LinkKey psk_;
    std::optional<PrivateKey> fixed_ephemeral_;
    std::optional<KeyPair> ephemeral_;
    PublicKey remote_ephemeral_{};
};

}  // namespace seal
