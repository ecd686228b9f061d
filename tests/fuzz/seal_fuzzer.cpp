// libFuzzer target for the sealed link's readers. The first byte picks what
// the rest of the input is:
//   0: bytes to a responder awaiting a handshake
//   1: bytes to an initiator awaiting the reply to its handshake
//   2: bytes to a responder whose handshake is done, as its transport stream
//   3: plain bytes sealed by a real initiator, then one byte of the sealed
//      stream changed and the stream read back in uneven pieces
// Rules: no input crashes or grows the buffer past one message; a stream
// that fails gives no plain byte from the failing message on; a forged
// stream never opens a responder; an untouched stream reads back exactly.
// Ephemeral keys are fixed so that every run of an input is the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_require.h"
#include "seal/link_sealer.h"

namespace {

using seal::LinkSealer;
using seal::Role;
using Blob = std::vector<std::uint8_t>;

seal::LinkKey FixedKey() {
    seal::LinkKey key;
    for (std::size_t i = 0; i < key.size(); ++i) key.bytes[i] = static_cast<std::uint8_t>(i);
    return key;
}

LinkSealer FixedSealer(Role role) {
    seal::PrivateKey ephemeral;
    ephemeral.bytes.fill(role == Role::initiator ? 0x20 : 0x41);
    const auto prologue = LinkSealer::kLinkPrologue;
    return LinkSealer(seal::NnPsk0Handshake(
        role, seal::HashKind::sha256, FixedKey(),
        {reinterpret_cast<const std::uint8_t*>(prologue.data()), prologue.size()}, ephemeral));
}

void Move(LinkSealer& from, LinkSealer& to) {
    Blob plain;
    const Blob bytes = from.TakeOutput();
    Require(!to.Receive({bytes.data(), bytes.size()}, plain), "a genuine handshake succeeds");
}

// Feeds the input in pieces whose sizes come from the input itself.
std::optional<seal::LinkError> FeedInPieces(LinkSealer& to, const Blob& stream, Blob& plain) {
    std::size_t piece = 1;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min(piece, stream.size() - at);
        if (auto error = to.Receive({stream.data() + at, n}, plain))
            return error;
        at += n;
        piece = piece * 7 % 9001 + stream[at - 1] % 5 + 1;
    }
    return std::nullopt;
}

void Raw(LinkSealer& victim, const std::uint8_t* data, std::size_t size, bool may_open) {
    Blob plain;
    const auto error = victim.Receive({data, size}, plain);
    if (!may_open) {
        Require(!victim.Open(), "forged bytes never open the link");
        Require(plain.empty(), "forged bytes never yield plain bytes");
    }
    if (error) {
        Blob more;
        Require(victim.Receive({data, size}, more) == error && more.empty(), "failure is final");
    }
}

void SealedStreamReadsBack(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return;
    LinkSealer initiator = FixedSealer(Role::initiator);
    LinkSealer responder = FixedSealer(Role::responder);
    Move(initiator, responder);
    Move(responder, initiator);
    const std::size_t where = data[0] | std::size_t{data[1]} << 8;
    const Blob plain_in(data + 2, data + size);
    Require(!initiator.Seal({plain_in.data(), plain_in.size()}), "sealing succeeds");
    Require(!initiator.SealEnd(), "the end marker seals");
    Blob stream = initiator.TakeOutput();  // the empty confirmation, the data, the marker
    const bool altered = where < stream.size() * 4 && data[size - 1] != 0;
    if (altered)
        stream[where % stream.size()] ^= data[size - 1];

    Blob plain_out;
    const auto error = FeedInPieces(responder, stream, plain_out);
    if (!altered) {
        Require(!error && !responder.PeerClosed(), "an untouched stream reads without error");
        Require(plain_out == plain_in, "an untouched stream reads back exactly");
        return;
    }
    Require(error.has_value() || responder.PeerClosed().has_value(), "a changed stream fails");
    Require(plain_out.size() <= plain_in.size() &&
                std::equal(plain_out.begin(), plain_out.end(), plain_in.begin()),
            "only bytes before the change come through");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0] % 4;
    ++data;
    --size;
    switch (mode) {
        case 0: {
            LinkSealer responder = FixedSealer(Role::responder);
            Raw(responder, data, size, false);
            break;
        }
        case 1: {
            LinkSealer initiator = FixedSealer(Role::initiator);
            initiator.TakeOutput();
            Raw(initiator, data, size, false);
            break;
        }
        case 2: {
            LinkSealer initiator = FixedSealer(Role::initiator);
            LinkSealer responder = FixedSealer(Role::responder);
            Move(initiator, responder);
            Move(responder, initiator);
            Raw(responder, data, size, false);
            break;
        }
        case 3:
            SealedStreamReadsBack(data, size);
            break;
    }
    return 0;
}
