#include "seal/link_halves.h"

#include <algorithm>
#include <stdexcept>

#include "seal/message_frame.h"

namespace seal {

bool SealingHalf::SealOne(Bytes plain, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    AppendFrameHeader(plain.size + kTagSize, out);
    if (cipher_.EncryptWithAd({nullptr, 0}, plain, out) != CipherResult::ok) {
        out.resize(start);
        error_ = LinkError::nonce_exhausted;
        return false;
    }
    return true;
}

std::optional<LinkError> SealingHalf::Seal(Bytes plain, std::vector<std::uint8_t>& out) {
    if (error_) {
        return error_;
    }
    if (ended_) {
        throw std::logic_error("plain bytes sealed after the end of the stream");
    }
    for (std::size_t done = 0; done < plain.size;) {
        const std::size_t chunk = std::min(kMaxPayloadSize, plain.size - done);
        if (!SealOne({plain.data + done, chunk}, out)) {
            return error_;
        }
        done += chunk;
    }
    return std::nullopt;
}

std::optional<LinkError> SealingHalf::SealEnd(std::vector<std::uint8_t>& out) {
    if (error_) {
        return error_;
    }
    if (!ended_) {
        ended_ = true;
        if (!SealOne({nullptr, 0}, out)) {
            return error_;
        }
    }
    return std::nullopt;
}

std::optional<LinkError> OpeningHalf::Fail(LinkError error) {
    error_ = error;
    cipher_ = CipherState{};  // wipes the key
    received_.Clear();
    return error_;
}

std::optional<LinkError> OpeningHalf::Receive(Bytes received, std::vector<std::uint8_t>& plain) {
    if (error_) {
        return error_;
    }
    std::optional<LinkError> failure;
    const auto acceptable = [this, &failure](std::size_t length) {
        if (length < kTagSize || peer_ended_) {
            failure = LinkError::bad_message;
        }
        return !failure;
    };
    const auto open = [this, &failure, &plain](Bytes message) {
        switch (cipher_.DecryptWithAd({nullptr, 0}, message, plain)) {
            case CipherResult::ok:
                peer_ended_ = message.size == kTagSize;
                return true;
            case CipherResult::failed:
                failure = LinkError::bad_message;
                return false;
            case CipherResult::nonce_exhausted:
                failure = LinkError::nonce_exhausted;
                return false;
        }
        return false;
    };
    if (!received_.Take(received, acceptable, open)) {
        return Fail(failure.value_or(LinkError::bad_message));
    }
    return std::nullopt;
}

std::optional<LinkError> OpeningHalf::PeerClosed() {
    if (error_) {
        return error_;
    }
    if (!received_.Empty() || !peer_ended_) {
        return Fail(LinkError::bad_message);
    }
    return std::nullopt;
}

LinkHalves SplitOpenLink(LinkSealer&& link) {
    if (!link.Open() || !link.output_.empty()) {
        throw std::logic_error("only an open link with its output taken splits");
    }
    LinkHalves halves{
        SealingHalf(std::move(link.ciphers_.send), link.sent_end_),
        OpeningHalf(std::move(link.ciphers_.receive), std::move(link.received_), link.peer_ended_)};
    link.Fail(LinkError::handshake_failed);  // the link itself is of no further use
    return halves;
}

}  // namespace seal
