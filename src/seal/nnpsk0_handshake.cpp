#include "seal/nnpsk0_handshake.h"

#include <stdexcept>

#include "seal/ephemeral_keys.h"

namespace seal {

NnPsk0Handshake::NnPsk0Handshake(Role role, HashKind kind, const LinkKey& psk, Bytes prologue,
                                 std::optional<PrivateKey> fixed_ephemeral)
    : role_(role),
      symmetric_(kind, ProtocolName(kind)),
      psk_(psk),
      fixed_ephemeral_(std::move(fixed_ephemeral)) {
    symmetric_.MixHash(prologue);
}

std::string NnPsk0Handshake::ProtocolName(HashKind kind) {
    return "Noise_NNpsk0_25519_ChaChaPoly_" + std::string(HashName(kind));
}

bool NnPsk0Handshake::MyTurnToWrite() const {
    return (step_ == Step::first_message && role_ == Role::initiator) ||
           (step_ == Step::second_message && role_ == Role::responder);
}

void NnPsk0Handshake::WriteEphemeral(std::vector<std::uint8_t>& out) {
    ephemeral_ = fixed_ephemeral_ ? KeyPairFrom(*fixed_ephemeral_) : TakeEphemeralKeyPair();
    fixed_ephemeral_.reset();
    const PublicKey& e = ephemeral_->public_key;
    out.insert(out.end(), e.begin(), e.end());
    symmetric_.MixHash({e.data(), e.size()});
    symmetric_.MixKey({e.data(), e.size()});  // the psk modifier's extra step
}

void NnPsk0Handshake::ReadEphemeral(const std::uint8_t* message) {
    std::copy(message, message + kDhSize, remote_ephemeral_.begin());
    symmetric_.MixHash({remote_ephemeral_.data(), remote_ephemeral_.size()});
    symmetric_.MixKey({remote_ephemeral_.data(), remote_ephemeral_.size()});
}

bool NnPsk0Handshake::MixEphemeralDh() {
    const auto shared = Dh(ephemeral_->private_key, remote_ephemeral_);
    if (!shared) {
        return false;
    }
    symmetric_.MixKey({shared->data(), shared->size()});
    return true;
}

bool NnPsk0Handshake::WriteMessage(Bytes payload, std::vector<std::uint8_t>& out) {
    if (!MyTurnToWrite()) {
        return false;
    }
    if (step_ == Step::first_message) {
        symmetric_.MixKeyAndHash({psk_.data(), psk_.size()});
        WriteEphemeral(out);
        step_ = Step::second_message;
    } else {
        WriteEphemeral(out);
        if (!MixEphemeralDh()) {
            step_ = Step::failed;
            return false;
        }
        step_ = Step::finished;
    }
    symmetric_.EncryptAndHash(payload, out);
    return true;
}

bool NnPsk0Handshake::ReadMessage(Bytes message, std::vector<std::uint8_t>& payload) {
    if (step_ == Step::finished || step_ == Step::failed || MyTurnToWrite() ||
        message.size < kEmptyMessageSize) {
        step_ = Step::failed;
        return false;
    }
    if (step_ == Step::first_message) {
        symmetric_.MixKeyAndHash({psk_.data(), psk_.size()});
        ReadEphemeral(message.data);
    } else {
        ReadEphemeral(message.data);
        if (!MixEphemeralDh()) {
            step_ = Step::failed;
            return false;
        }
    }
    if (!symmetric_.DecryptAndHash({message.data + kDhSize, message.size - kDhSize}, payload)) {
        step_ = Step::failed;
        return false;
    }
    step_ = step_ == Step::first_message ? Step::second_message : Step::finished;
    return true;
}

TransportCiphers NnPsk0Handshake::Split() {
    if (!Finished()) {
        throw std::logic_error("handshake split before it finished");
    }
    auto ciphers = symmetric_.Split();
    ephemeral_.reset();
    Wipe(psk_.data(), psk_.size());
    if (role_ == Role::initiator) {
        return {std::move(ciphers.first), std::move(ciphers.second)};
    }
    return {std::move(ciphers.second), std::move(ciphers.first)};
}

}  // namespace seal
