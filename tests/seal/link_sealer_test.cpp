// The sealed link end to end in memory: what each side sends, when the
// responder may open its target connection, and what hostile or broken
// input does. Every failure must be typed and let no plain byte through.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "seal/link_sealer.h"
#include "seal/message_frame.h"
#include "seal_testing.h"

namespace {

using seal::LinkError;
using seal::LinkSealer;
using seal::Role;
using seal_testing::Blob;
using seal_testing::Deliver;
using seal_testing::OpenLink;
using seal_testing::RandomBytes;
using seal_testing::Received;
using seal_testing::View;

// A framed handshake message of the right size with random contents.
Blob ForgedHandshakeMessage(unsigned seed) {
    Blob forged = {0, seal::NnPsk0Handshake::kEmptyMessageSize};
    const Blob body = RandomBytes(seal::NnPsk0Handshake::kEmptyMessageSize, seed);
    forged.insert(forged.end(), body.begin(), body.end());
    return forged;
}

// A relay may open a link ahead and close it unused right after the reply
// (a replayed first message ends the same way): nothing was sent, so the end
// is clean, and the link never opened.
TEST(LinkSealer, AnInitiatorGoneRightAfterTheReplyEndsCleanlyUnopened) {
    const auto key = seal::GenerateLinkKey();
    LinkSealer initiator(Role::initiator, key);
    LinkSealer responder(Role::responder, key);
    EXPECT_FALSE(Deliver(responder, initiator.TakeOutput()).error);
    EXPECT_FALSE(responder.TakeOutput().empty());
    EXPECT_FALSE(responder.PeerClosed());
    EXPECT_FALSE(responder.Open());
}

TEST(LinkSealer, ResponderOpensOnlyOnTheInitiatorsFirstMessageEvenFromASilentClient) {
    const auto key = seal::GenerateLinkKey();
    LinkSealer initiator(Role::initiator, key);
    LinkSealer responder(Role::responder, key);

    const Blob hello = initiator.TakeOutput();
    ASSERT_EQ(hello.size(), 2 + 48u);
    EXPECT_FALSE(Deliver(responder, hello).error);
    EXPECT_FALSE(responder.Open()) << "a replayable message must not open the target";

    const Blob reply = responder.TakeOutput();
    ASSERT_EQ(reply.size(), 2 + 48u);
    EXPECT_FALSE(Deliver(initiator, reply).error);
    EXPECT_TRUE(initiator.Open());

    // The initiator confirms with an empty message though its client said nothing.
    const Blob confirm = initiator.TakeOutput();
    ASSERT_EQ(confirm.size(), 2 + seal::kTagSize);
    const auto opened = Deliver(responder, confirm);
    EXPECT_FALSE(opened.error);
    EXPECT_TRUE(opened.plain.empty());
    EXPECT_TRUE(responder.Open());

    // A server that speaks first (ssh) reaches the client.
    ASSERT_FALSE(responder.Seal(View(Blob{'S', 'S', 'H'})));
    EXPECT_EQ(Deliver(initiator, responder.TakeOutput()).plain, (Blob{'S', 'S', 'H'}));
}

TEST(LinkSealer, CarriesBytesSplitAtTheMessageLimitAndAnyReadSize) {
    OpenLink link;
    const Blob plain = RandomBytes(3 * seal::kMaxPayloadSize + 7, 1);
    const Blob wire = link.SealFromInitiator(plain);

    // Four messages, the first three exactly 65,535 bytes with their tag.
    std::size_t messages = 0;
    for (std::size_t at = 0; at < wire.size(); ++messages) {
        const std::size_t length = seal::ReadFrameHeader(&wire[at]);
        EXPECT_EQ(length, messages < 3 ? seal::kMaxMessageSize : 7 + seal::kTagSize);
        at += 2 + length;
    }
    EXPECT_EQ(messages, 4u);

    // Read in uneven pieces, down to single bytes, as TCP may hand them over.
    Blob got;
    std::size_t at = 0;
    for (std::size_t piece = 1; at < wire.size(); piece = piece * 3 % 70001 + 1) {
        const std::size_t n = std::min(piece, wire.size() - at);
        ASSERT_FALSE(link.responder.Receive({wire.data() + at, n}, got));
        at += n;
    }
    EXPECT_EQ(got, plain);
    ASSERT_FALSE(link.initiator.SealEnd());
    ASSERT_FALSE(Deliver(link.responder, link.initiator.TakeOutput()).error);
    EXPECT_FALSE(link.responder.PeerClosed()) << "an end after the marker is clean";
}

// An initiator whose ephemeral key is fixed, so that two of them reading one
// reply hold the same keys: the twin plays a peer that goes on after its end.
LinkSealer FixedInitiator(const seal::LinkKey& key) {
    seal::PrivateKey ephemeral;
    ephemeral.bytes.fill(0x33);
    const auto prologue = LinkSealer::kLinkPrologue;
    return LinkSealer(seal::NnPsk0Handshake(
        Role::initiator, seal::HashKind::sha256, key,
        {reinterpret_cast<const std::uint8_t*>(prologue.data()), prologue.size()}, ephemeral));
}

// A FIN anyone on the path can forge: only the sealed end marker makes the
// end of the stream clean, and nothing may follow the marker.
TEST(LinkSealer, OnlyTheEndMarkerMakesTheEndOfTheStreamClean) {
    {
        SCOPED_TRACE("the initiator's empty confirmation is not an end");
        OpenLink link;
        EXPECT_FALSE(link.responder.EndedInOrder());
        EXPECT_EQ(link.responder.PeerClosed(), LinkError::bad_message);
    }
    for (const bool fromInitiator : {true, false}) {
        SCOPED_TRACE(fromInitiator ? "initiator ends" : "responder ends");
        OpenLink link;
        LinkSealer& sender = fromInitiator ? link.initiator : link.responder;
        LinkSealer& receiver = fromInitiator ? link.responder : link.initiator;
        ASSERT_FALSE(sender.Seal(View(Blob{'a', 'b'})));
        ASSERT_FALSE(sender.SealEnd());
        ASSERT_FALSE(sender.SealEnd()) << "a second end is harmless";
        const auto read = Deliver(receiver, sender.TakeOutput());
        EXPECT_FALSE(read.error);
        EXPECT_EQ(read.plain, (Blob{'a', 'b'}));
        EXPECT_TRUE(receiver.EndedInOrder());
        EXPECT_FALSE(receiver.PeerClosed());
        EXPECT_THROW(sender.Seal(View(Blob{1})), std::logic_error);
    }
}

TEST(LinkSealer, AMessageAfterTheEndMarkerIsABadMessage) {
    const auto key = seal::GenerateLinkKey();
    LinkSealer initiator = FixedInitiator(key);
    LinkSealer twin = FixedInitiator(key);
    LinkSealer responder(Role::responder, key);
    const Blob hello = initiator.TakeOutput();
    ASSERT_EQ(twin.TakeOutput(), hello);
    ASSERT_FALSE(Deliver(responder, hello).error);
    const Blob reply = responder.TakeOutput();
    ASSERT_FALSE(Deliver(initiator, reply).error);
    ASSERT_FALSE(Deliver(twin, reply).error);
    ASSERT_FALSE(Deliver(responder, initiator.TakeOutput()).error);  // the confirmation
    ASSERT_FALSE(initiator.SealEnd());
    const Blob end = initiator.TakeOutput();
    // The twin's third message is valid in itself: only its place fails it.
    ASSERT_FALSE(twin.Seal(View(Blob{'x'})));
    twin.TakeOutput();
    ASSERT_FALSE(twin.Seal(View(Blob{'l', 'a', 't', 'e'})));
    const Blob late = twin.TakeOutput();

    ASSERT_FALSE(Deliver(responder, end).error);
    const auto after = Deliver(responder, late);
    EXPECT_EQ(after.error, LinkError::bad_message);
    EXPECT_TRUE(after.plain.empty());
}

TEST(LinkSealer, HostileOrBrokenInputIsATypedErrorAndYieldsNoPlainBytes) {
    struct Case {
        const char* name;
        // Plays the attack on fresh ends and returns what the victim reported.
        std::function<Received()> attack;
        LinkError expected;
    };
    const auto key = seal::GenerateLinkKey();
    const auto other_key = seal::GenerateLinkKey();

    const Case cases[] = {
        {"wrong key",
         [&] {
             LinkSealer stranger(Role::initiator, other_key);
             LinkSealer responder(Role::responder, key);
             auto r = Deliver(responder, stranger.TakeOutput());
             EXPECT_TRUE(responder.TakeOutput().empty()) << "no reply to a wrong key";
             return r;
         },
         LinkError::handshake_failed},
        {"forged reply to the initiator",
         [&] {
             LinkSealer initiator(Role::initiator, key);
             auto r = Deliver(initiator, ForgedHandshakeMessage(2));
             EXPECT_FALSE(initiator.Open());
             return r;
         },
         LinkError::handshake_failed},
        {"truncated handshake",
         [&] {
             LinkSealer initiator(Role::initiator, key);
             LinkSealer responder(Role::responder, key);
             Blob hello = initiator.TakeOutput();
             hello.resize(30);
             auto r = Deliver(responder, hello);
             EXPECT_FALSE(r.error) << "a partial message just waits";
             r.error = responder.PeerClosed();
             return r;
         },
         LinkError::handshake_failed},
        {"random bytes",
         [&] {
             LinkSealer responder(Role::responder, key);
             return Deliver(responder, RandomBytes(4096, 3));
         },
         LinkError::handshake_failed},
        {"random handshake of the right size",
         [&] {
             LinkSealer responder(Role::responder, key);
             return Deliver(responder, ForgedHandshakeMessage(4));
         },
         LinkError::handshake_failed},
        {"handshake claiming 65,535 bytes fails on its header alone",
         [&] {
             LinkSealer responder(Role::responder, key);
             return Deliver(responder, Blob{0xFF, 0xFF});
         },
         LinkError::handshake_failed},
        {"replayed first message never opens the target",
         [&] {
             LinkSealer initiator(Role::initiator, key);
             LinkSealer genuine(Role::responder, key);
             const Blob hello = initiator.TakeOutput();
             Deliver(genuine, hello);
             Deliver(initiator, genuine.TakeOutput());
             const Blob confirm = initiator.TakeOutput();
             // The recorder replays both messages it saw to a fresh responder.
             LinkSealer replayed(Role::responder, key);
             EXPECT_FALSE(Deliver(replayed, hello).error);
             EXPECT_FALSE(replayed.TakeOutput().empty());
             auto r = Deliver(replayed, confirm);
             EXPECT_FALSE(replayed.Open());
             return r;
         },
         LinkError::handshake_failed},
        {"first message cut by the end of the stream",
         [&] {
             LinkSealer initiator(Role::initiator, key);
             LinkSealer responder(Role::responder, key);
             EXPECT_FALSE(Deliver(responder, initiator.TakeOutput()).error);
             EXPECT_FALSE(Deliver(initiator, responder.TakeOutput()).error);
             Blob first = initiator.TakeOutput();
             first.resize(first.size() - 1);
             auto r = Deliver(responder, first);
             EXPECT_FALSE(r.error);
             r.error = responder.PeerClosed();
             return r;
         },
         LinkError::handshake_failed},
        {"flipped bit mid-stream",
         [&] {
             OpenLink link;
             Blob wire = link.SealFromInitiator(RandomBytes(100, 5));
             const std::size_t first = wire.size();
             const Blob second = link.SealFromInitiator(RandomBytes(100, 6));
             wire.insert(wire.end(), second.begin(), second.end());
             wire[first + 50] ^= 0x08;
             auto r = Deliver(link.responder, wire);
             EXPECT_EQ(r.plain, RandomBytes(100, 5)) << "only the intact message";
             r.plain.clear();
             return r;
         },
         LinkError::bad_message},
        {"replayed transport message",
         [&] {
             OpenLink link;
             const Blob wire = link.SealFromInitiator(RandomBytes(10, 7));
             Deliver(link.responder, wire);
             return Deliver(link.responder, wire);
         },
         LinkError::bad_message},
        {"transport message shorter than its tag",
         [&] {
             OpenLink link;
             return Deliver(link.responder, Blob{0, 15, 1, 2, 3});
         },
         LinkError::bad_message},
        {"stream cut between messages, before the end marker",
         [&] {
             OpenLink link;
             auto r = Deliver(link.responder, link.SealFromInitiator(RandomBytes(100, 9)));
             EXPECT_FALSE(r.error);
             EXPECT_FALSE(link.responder.EndedInOrder());
             r.plain.clear();
             r.error = link.responder.PeerClosed();
             return r;
         },
         LinkError::bad_message},
        {"refusal cut before its end marker",
         [&] {
             LinkSealer initiator(Role::initiator, key);
             LinkSealer responder(Role::responder, key);
             Deliver(responder, initiator.TakeOutput());
             EXPECT_FALSE(responder.Seal(View(Blob{'b', 'u', 's', 'y'})));
             auto r = Deliver(initiator, responder.TakeOutput());
             EXPECT_FALSE(r.error);
             r.plain.clear();
             r.error = initiator.PeerClosed();
             return r;
         },
         LinkError::bad_message},
        {"stream cut inside a message",
         [&] {
             OpenLink link;
             Blob wire = link.SealFromInitiator(RandomBytes(100, 8));
             wire.pop_back();
             auto r = Deliver(link.responder, wire);
             EXPECT_FALSE(r.error);
             r.error = link.responder.PeerClosed();
             return r;
         },
         LinkError::bad_message},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Received r = c.attack();
        EXPECT_EQ(r.error, c.expected);
        EXPECT_TRUE(r.plain.empty());
    }
}

TEST(LinkSealer, AFailureIsFinal) {
    OpenLink link;
    Blob bad = link.SealFromInitiator(Blob{1, 2, 3});
    bad.back() ^= 1;
    EXPECT_EQ(Deliver(link.responder, bad).error, LinkError::bad_message);
    // Later valid traffic is not read, and nothing goes out.
    const auto later = Deliver(link.responder, link.SealFromInitiator(Blob{4}));
    EXPECT_EQ(later.error, LinkError::bad_message);
    EXPECT_TRUE(later.plain.empty());
    EXPECT_EQ(link.responder.Seal(View(Blob{5})), LinkError::bad_message);
    EXPECT_TRUE(link.responder.TakeOutput().empty());
}

TEST(LinkSealer, SealingBeforeTheHandshakeIsABug) {
    LinkSealer responder(Role::responder, seal::GenerateLinkKey());
    EXPECT_FALSE(responder.CanSeal());
    EXPECT_THROW(responder.Seal(View(Blob{1})), std::logic_error);
    EXPECT_THROW(responder.SealEnd(), std::logic_error);
}

// A responder that must refuse (its limit is reached) answers the handshake
// and seals its refusal at once, without waiting to be confirmed: only the
// initiator that made the handshake reads it.
TEST(LinkSealer, TheResponderCanSealARefusalRightAfterItsReply) {
    const auto key = seal::GenerateLinkKey();
    LinkSealer initiator(Role::initiator, key);
    LinkSealer responder(Role::responder, key);
    ASSERT_FALSE(Deliver(responder, initiator.TakeOutput()).error);
    ASSERT_TRUE(responder.CanSeal());
    EXPECT_FALSE(responder.Open());
    const Blob refusal = {'b', 'u', 's', 'y'};
    ASSERT_FALSE(responder.Seal(View(refusal)));
    ASSERT_FALSE(responder.SealEnd());
    const auto read = Deliver(initiator, responder.TakeOutput());
    EXPECT_FALSE(read.error);
    EXPECT_EQ(read.plain, refusal);
    EXPECT_TRUE(initiator.Open());
    EXPECT_TRUE(initiator.EndedInOrder());
    EXPECT_FALSE(initiator.PeerClosed());
}

TEST(CipherState, TheLastNonceIsNeverUsed) {
    seal::CipherKey key;
    seal::CipherState sender;
    seal::CipherState receiver;
    sender.InitializeKey(key);
    receiver.InitializeKey(key);
    sender.SetNonce(~std::uint64_t{0} - 1);
    receiver.SetNonce(~std::uint64_t{0} - 1);
    Blob message;
    Blob plain;
    ASSERT_EQ(sender.EncryptWithAd({nullptr, 0}, View(Blob{7}), message), seal::CipherResult::ok);
    ASSERT_EQ(receiver.DecryptWithAd({nullptr, 0}, View(message), plain), seal::CipherResult::ok);
    EXPECT_EQ(plain, Blob{7});
    Blob more;
    EXPECT_EQ(sender.EncryptWithAd({nullptr, 0}, View(Blob{8}), more),
              seal::CipherResult::nonce_exhausted);
    EXPECT_TRUE(more.empty());
    EXPECT_EQ(receiver.DecryptWithAd({nullptr, 0}, View(message), plain),
              seal::CipherResult::nonce_exhausted);
}

}  // namespace
