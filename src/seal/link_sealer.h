// One sealed link, either end, without I/O: the caller moves bytes between
// the socket and this object and closes the connection on any error.
//
// The initiator (Client mode) queues its handshake message at construction.
// When the responder's reply authenticates it queues one transport message
// with no payload, so the responder hears from it even if the client never
// speaks first (ssh), and the link is Open.
//
// The responder (Server mode) answers a valid first handshake message, then
// waits for the initiator's first transport message. Only when that
// authenticates is the link Open: that is the moment to connect to the
// target. A replayed handshake message costs it one key pair and one DH,
// and never a target connection, since the replayer cannot produce the
// transport message.
//
// Plain bytes pass only while Open, in messages of at most kMaxPayloadSize
// bytes. After an error the sealer stays failed and every call repeats it.
//
// A TCP end of stream proves nothing: anyone on the path can forge a FIN,
// and one that falls between two messages would cut the stream short
// unnoticed. So a sender ends its stream with a marker first (SealEnd): a
// transport message with no payload. Only the initiator's confirmation is
// empty besides it, so any later empty message is the marker. The peer's
// end of stream is clean only after the marker; one without it, even
// between messages, is bad_message, and so is any message after it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "seal/frame_reader.h"
#include "seal/link_error.h"
#include "seal/link_key.h"
#include "seal/nnpsk0_handshake.h"

namespace seal {

class LinkSealer;
struct LinkHalves;
// Declared in seal/link_halves.h.
LinkHalves SplitOpenLink(LinkSealer&& link);

class LinkSealer {
  public:
    LinkSealer(Role role, const LinkKey& key);
    // Drives a handshake the caller made (tests fix its ephemeral key). It
    // must use the link's prologue (kLinkPrologue) to meet a real peer.
    explicit LinkSealer(NnPsk0Handshake handshake);

    // Bound into every link's handshake: a key shared with some other use
    // of NNpsk0 cannot open a link.
    static constexpr std::string_view kLinkPrologue = "Vorlane sealed link 1";

    bool Open() const { return state_ == State::open; }
    std::optional<LinkError> Error() const { return error_; }

    // Bytes queued for the peer since the last call, framed and sealed.
    std::vector<std::uint8_t> TakeOutput();
    // The same into `into`, whose old contents go and whose storage the
    // sealer keeps: a relay that alternates two vectors allocates nothing
    // per chunk.
    void TakeOutput(std::vector<std::uint8_t>& into);

    // Takes bytes as they came from the peer, any split. Appends to plain
    // the payload of every message that authenticated; a message that fails
    // adds nothing. The responder may get plain bytes in the same call that
    // opens the link: it holds them until its target connection is up.
    std::optional<LinkError> Receive(Bytes received, std::vector<std::uint8_t>& plain);

    // Whether Seal may be called: while Open, and for the responder from the
    // moment its handshake reply is queued (it may answer a refusal at once;
    // only the initiator that made the handshake can read it).
    bool CanSeal() const {
        return state_ == State::open || state_ == State::awaiting_first_message;
    }

    // Seals plain bytes into as many messages as they need and queues them.
    // Only while CanSeal and before SealEnd (anything else is a bug and
    // throws); no bytes, no message.
    std::optional<LinkError> Seal(Bytes plain);

    // Queues the end-of-stream marker, to go out before the caller shuts
    // down its sending side. Only while CanSeal (else a bug, and throws);
    // a second call queues nothing.
    std::optional<LinkError> SealEnd();

    // The peer's marker has come: its stream ended in order, and nothing
    // may follow it.
    bool EndedInOrder() const { return peer_ended_; }

    // The peer ended its stream. Clean only after its marker, with no part
    // of a message left over, or (responder) right after the handshake reply,
    // before any byte of the initiator's first message: the link never
    // opened and nothing was lost. Any other end before the link is open is
    // handshake_failed, after it bad_message.
    std::optional<LinkError> PeerClosed();

  private:
    friend LinkHalves SplitOpenLink(LinkSealer&& link);

    enum class State { handshaking, awaiting_first_message, open, failed };

    // Processes one whole message; false when it failed (error_ is set).
    bool HandleMessage(Bytes message, std::vector<std::uint8_t>& plain);
    bool HandleHandshakeMessage(Bytes message);
    void StartTransport();
    bool HandleTransportMessage(Bytes message, std::vector<std::uint8_t>& plain);
    bool SealOne(Bytes plain);
    std::optional<LinkError> Fail(LinkError error);
    // Whether a message of this length can be valid now; fails if not.
    bool AcceptableLength(std::size_t length);

    State state_ = State::handshaking;
    std::optional<LinkError> error_;
    std::optional<NnPsk0Handshake> handshake_;
    TransportCiphers ciphers_;
    FrameReader received_;  // received bytes not yet a whole message
    std::vector<std::uint8_t> output_;
    bool sent_end_ = false;
    bool peer_ended_ = false;
};

}  // namespace seal
