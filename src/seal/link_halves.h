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
    SealingHalf(CipherState cipher, bool ended) : cipher_(std::move(cipher)), ended_(ended) {}

    // Appends plain bytes to out as framed messages of at most
    // kMaxPayloadSize bytes each; no bytes, no message. After SealEnd it
    // is a bug, and throws.
    std::optional<LinkError> Seal(Bytes plain, std::vector<std::uint8_t>& out);
    // As LinkSealer::SealEnd: appends the end-of-stream marker to out, to
    // be sent before the sending side shuts down; a second call adds nothing.
    std::optional<LinkError> SealEnd(std::vector<std::uint8_t>& out);

  private:
    bool SealOne(Bytes plain, std::vector<std::uint8_t>& out);

    CipherState cipher_;
    std::optional<LinkError> error_;
    bool ended_;
};

class OpeningHalf {
  public:
    OpeningHalf(CipherState cipher, FrameReader received, bool peerEnded)
        : cipher_(std::move(cipher)), received_(std::move(received)), peer_ended_(peerEnded) {}

    // As LinkSealer::Receive on an open link: appends the payload of each
    // message that authenticates; the first that does not ends the half.
    // Every empty message is the peer's end marker, and nothing may follow.
    std::optional<LinkError> Receive(Bytes received, std::vector<std::uint8_t>& plain);
    // The peer's end-of-stream marker has come.
    bool EndedInOrder() const { return peer_ended_; }
    // The peer ended its stream: clean only after its marker.
    std::optional<LinkError> PeerClosed();

  private:
    std::optional<LinkError> Fail(LinkError error);

    CipherState cipher_;
    FrameReader received_;
    std::optional<LinkError> error_;
    bool peer_ended_;
};

struct LinkHalves {
    SealingHalf sealing;
    OpeningHalf opening;
};

// Takes an Open link whose output has been taken (anything else is a bug
// and throws), with the start of any message it was still receiving.
LinkHalves SplitOpenLink(LinkSealer&& link);

}  // namespace seal
