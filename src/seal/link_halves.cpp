#include "seal/link_halves.h"

#include <algorithm>
#include <stdexcept>

#include "seal/message_frame.h"

namespace seal {

std::optional<LinkError> SealingHalf::Seal(Bytes plain, std::vector<std::uint8_t>& out) {
    if (error_) {
        return error_;
    }
    for (std::size_t done = 0; done < plain.size;) {
        const std::size_t chunk = std::min(kMaxPayloadSize, plain.size - done);
        const std::size_t start = out.size();
        AppendFrameHeader(chunk + kTagSize, out);
        if (cipher_.EncryptWithAd({nullptr, 0}, {plain.data + done, chunk}, out) !=
            CipherResult::ok) {
            out.resize(start);
            error_ = LinkError::nonce_exhausted;
            return error_;
        }
        done += chunk;
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
    const auto acceptable = [&failure](std::size_t length) {
        if (length < kTagSize) {
            failure = LinkError::bad_message;
        }
        return !failure;
    };
    const auto open = [this, &failure, &plain](Bytes message) {
        switch (cipher_.DecryptWithAd({nullptr, 0}, message, plain)) {
            case CipherResult::ok:
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
    if (!received_.Empty()) {
        return Fail(LinkError::bad_message);
    }
    return std::nullopt;
}

LinkHalves SplitOpenLink(LinkSealer&& link) {
    if (!link.Open() || !link.output_.empty()) {
        throw std::logic_error("only an open link with its output taken splits");
    }
    LinkHalves halves{SealingHalf(std::move(link.ciphers_.send)),
                      OpeningHalf(std::move(link.ciphers_.receive), std::move(link.received_))};
    link.Fail(LinkError::handshake_failed);  // the link itself is of no further use
    return halves;
}

}  // namespace seal
