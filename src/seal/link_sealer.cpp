#include "seal/link_sealer.h"

#include <algorithm>
#include <stdexcept>

#include "seal/message_frame.h"

namespace seal {
namespace {

Bytes LinkPrologue() {
    return {reinterpret_cast<const std::uint8_t*>(LinkSealer::kLinkPrologue.data()),
            LinkSealer::kLinkPrologue.size()};
}

}  // namespace

LinkSealer::LinkSealer(Role role, const LinkKey& key)
    : LinkSealer(NnPsk0Handshake(role, HashKind::sha256, key, LinkPrologue())) {}

LinkSealer::LinkSealer(NnPsk0Handshake handshake) : handshake_(std::move(handshake)) {
    if (handshake_->MyTurnToWrite()) {
        std::vector<std::uint8_t> message;
        handshake_->WriteMessage({nullptr, 0}, message);
        AppendFrameHeader(message.size(), output_);
        output_.insert(output_.end(), message.begin(), message.end());
    }
}

std::vector<std::uint8_t> LinkSealer::TakeOutput() {
    std::vector<std::uint8_t> taken;
    taken.swap(output_);
    return taken;
}

void LinkSealer::TakeOutput(std::vector<std::uint8_t>& into) {
    into.clear();
    into.swap(output_);
}

std::optional<LinkError> LinkSealer::Fail(LinkError error) {
    state_ = State::failed;
    error_ = error;
    handshake_.reset();
    ciphers_ = TransportCiphers{};  // closing the ciphers wipes their keys
    received_.Clear();
    output_.clear();
    return error_;
}

bool LinkSealer::AcceptableLength(std::size_t length) {
    if (state_ == State::handshaking) {
        // Our handshake messages carry no payload, so there is one valid
        // length; anything else fails before we buffer it.
        if (length != NnPsk0Handshake::kEmptyMessageSize) {
            Fail(LinkError::handshake_failed);
            return false;
        }
    } else if (length < kTagSize || peer_ended_) {
        // Nothing may follow the peer's end-of-stream marker.
        Fail(state_ == State::open ? LinkError::bad_message : LinkError::handshake_failed);
        return false;
    }
    return true;
}

std::optional<LinkError> LinkSealer::Receive(Bytes received, std::vector<std::uint8_t>& plain) {
    if (state_ == State::failed) {
        return error_;
    }
    const bool whole = received_.Take(
        received, [this](std::size_t length) { return AcceptableLength(length); },
        [this, &plain](Bytes message) { return HandleMessage(message, plain); });
    return whole ? std::nullopt : error_;
}

bool LinkSealer::HandleMessage(Bytes message, std::vector<std::uint8_t>& plain) {
    if (state_ == State::handshaking) {
        return HandleHandshakeMessage(message);
    }
    return HandleTransportMessage(message, plain);
}

bool LinkSealer::HandleHandshakeMessage(Bytes message) {
    std::vector<std::uint8_t> payload;
    if (!handshake_->ReadMessage(message, payload)) {
        Fail(LinkError::handshake_failed);
        return false;
    }
    if (handshake_->MyTurnToWrite()) {
        std::vector<std::uint8_t> reply;
        if (!handshake_->WriteMessage({nullptr, 0}, reply)) {
            Fail(LinkError::handshake_failed);
            return false;
        }
        AppendFrameHeader(reply.size(), output_);
        output_.insert(output_.end(), reply.begin(), reply.end());
    }
    StartTransport();
    return true;
}

void LinkSealer::StartTransport() {
    const Role role = handshake_->role();
    ciphers_ = handshake_->Split();
    handshake_.reset();
    if (role == Role::responder) {
        state_ = State::awaiting_first_message;
        return;
    }
    state_ = State::open;
    // Tells the responder the link is real even when our client is silent.
    SealOne({nullptr, 0});
}

bool LinkSealer::HandleTransportMessage(Bytes message, std::vector<std::uint8_t>& plain) {
    switch (ciphers_.receive.DecryptWithAd({nullptr, 0}, message, plain)) {
        case CipherResult::ok:
            // The responder's first message from the initiator is its empty
            // confirmation; every other empty message is the end marker.
            if (message.size == kTagSize && state_ == State::open) {
                peer_ended_ = true;
            }
            state_ = State::open;
            return true;
        case CipherResult::failed:
            Fail(state_ == State::open ? LinkError::bad_message : LinkError::handshake_failed);
            return false;
        case CipherResult::nonce_exhausted:
            Fail(LinkError::nonce_exhausted);
            return false;
    }
    return false;
}

bool LinkSealer::SealOne(Bytes plain) {
    const std::size_t start = output_.size();
    AppendFrameHeader(plain.size + kTagSize, output_);
    if (ciphers_.send.EncryptWithAd({nullptr, 0}, plain, output_) != CipherResult::ok) {
        output_.resize(start);
        Fail(LinkError::nonce_exhausted);
        return false;
    }
    return true;
}

std::optional<LinkError> LinkSealer::Seal(Bytes plain) {
    if (state_ == State::failed) {
        return error_;
    }
    if (!CanSeal()) {
        throw std::logic_error("plain bytes sealed before the handshake");
    }
    if (sent_end_) {
        throw std::logic_error("plain bytes sealed after the end of the stream");
    }
    for (std::size_t done = 0; done < plain.size;) {
        const std::size_t chunk = std::min(kMaxPayloadSize, plain.size - done);
        if (!SealOne({plain.data + done, chunk})) {
            return error_;
        }
        done += chunk;
    }
    return std::nullopt;
}

std::optional<LinkError> LinkSealer::SealEnd() {
    if (state_ == State::failed) {
        return error_;
    }
    if (!CanSeal()) {
        throw std::logic_error("stream ended before the handshake");
    }
    if (!sent_end_) {
        sent_end_ = true;
        if (!SealOne({nullptr, 0})) {
            return error_;
        }
    }
    return std::nullopt;
}

std::optional<LinkError> LinkSealer::PeerClosed() {
    if (state_ == State::failed) {
        return error_;
    }
    // The initiator answered no more after our reply: it sent nothing, so
    // nothing is cut (a relay that opened a link ahead and did not need it).
    if (state_ == State::awaiting_first_message && received_.Empty()) {
        return std::nullopt;
    }
    if (state_ != State::open) {
        return Fail(LinkError::handshake_failed);
    }
    // Part of a message, or a whole stream cut where a message ends.
    if (!received_.Empty() || !peer_ended_) {
        return Fail(LinkError::bad_message);
    }
    return std::nullopt;
}

}  // namespace seal
