// An open link cut in two for two threads: the half that seals what goes
// to the peer and the half that opens what comes from it. After the
// handshake the two directions share nothing (each has its own key and
// nonce), so each half may live on its own thread without a lock, as long
// as no two threads use one half.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "seal/cipher_state.h"
#include "seal/frame_reader.h"
#include "seal/link_error.h"
#include "seal/link_sealer.h"

namespace seal {

class SealingHalf {
  public:
    explicit SealingHalf(CipherState cipher) : cipher_(std::move(cipher)) {}

    // Appends plain bytes to out as framed messages of at most
    // kMaxPayloadSize bytes each; no bytes, no message.
    std::optional<LinkError> Seal(Bytes plain, std::vector<std::uint8_t>& out);

  private:
    CipherState cipher_;
    std::optional<LinkError> error_;
};

class OpeningHalf {
  public:
    OpeningHalf(CipherState cipher, FrameReader received)
        : cipher_(std::move(cipher)), received_(std::move(received)) {}

    // As LinkSealer::Receive on an open link: appends the payload of each
    // message that authenticates; the first that does not ends the half.
    std::optional<LinkError> Receive(Bytes received, std::vector<std::uint8_t>& plain);
    // The peer ended its stream: clean only between messages.
    std::optional<LinkError> PeerClosed();

  private:
    std::optional<LinkError> Fail(LinkError error);

    CipherState cipher_;
    FrameReader received_;
    std::optional<LinkError> error_;
};

struct LinkHalves {
    SealingHalf sealing;
    OpeningHalf opening;
};

// Takes an Open link whose output has been taken (anything else is a bug
// and throws), with the start of any message it was still receiving.
LinkHalves SplitOpenLink(LinkSealer&& link);

}  // namespace seal
