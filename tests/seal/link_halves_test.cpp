// An open link split for two threads: each half must carry on exactly where
// the whole link stopped, a message cut in two by the split included, and
// fail as the whole link would.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "seal/link_halves.h"
#include "seal/link_sealer.h"
#include "seal/message_frame.h"
#include "seal_testing.h"

namespace {

using seal::LinkError;
using seal::LinkSealer;
using seal::Role;
using seal_testing::Blob;
using seal_testing::OpenLink;
using seal_testing::RandomBytes;
using seal_testing::View;

Blob Sealed(seal::SealingHalf& half, const Blob& plain) {
    Blob wire;
    EXPECT_FALSE(half.Seal(View(plain), wire));
    return wire;
}

TEST(LinkHalves, EachDirectionGoesOnAcrossTheSplitAMessageCutByItIncluded) {
    // The initiator seals two messages before its own split; the responder
    // has the first and half of the second when it splits.
    const auto key = seal::GenerateLinkKey();
    LinkSealer initiator{Role::initiator, key};
    LinkSealer responder{Role::responder, key};
    Blob plain;
    ASSERT_FALSE(responder.Receive(View(initiator.TakeOutput()), plain));
    ASSERT_FALSE(initiator.Receive(View(responder.TakeOutput()), plain));
    const Blob first = {'o', 'n', 'e'};
    const Blob second = RandomBytes(seal::kMaxPayloadSize + 5, 2);
    ASSERT_FALSE(initiator.Seal(View(first)));
    ASSERT_FALSE(initiator.Seal(View(second)));
    const Blob wire = initiator.TakeOutput();
    const std::size_t cut = wire.size() - 1000;
    ASSERT_FALSE(responder.Receive({wire.data(), cut}, plain));
    ASSERT_TRUE(responder.Open());

    seal::LinkHalves up = seal::SplitOpenLink(std::move(responder));
    seal::LinkHalves down = seal::SplitOpenLink(std::move(initiator));

    ASSERT_FALSE(up.opening.Receive({wire.data() + cut, wire.size() - cut}, plain));
    Blob expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(plain, expected);
    Blob end;
    ASSERT_FALSE(down.sealing.SealEnd(end));
    ASSERT_FALSE(up.opening.Receive(View(end), plain));
    EXPECT_EQ(plain, expected) << "the marker carries nothing";
    EXPECT_TRUE(up.opening.EndedInOrder());
    EXPECT_FALSE(up.opening.PeerClosed());
    EXPECT_THROW(down.sealing.Seal(View(first), end), std::logic_error);

    // The other way, with messages no larger than the limit.
    const Blob reply = RandomBytes(2 * seal::kMaxPayloadSize, 3);
    const Blob replyWire = Sealed(up.sealing, reply);
    EXPECT_EQ(seal::ReadFrameHeader(replyWire.data()), seal::kMaxMessageSize);
    Blob got;
    ASSERT_FALSE(down.opening.Receive(View(replyWire), got));
    EXPECT_EQ(got, reply);
    EXPECT_TRUE(Sealed(up.sealing, {}).empty()) << "no bytes, no message";
}

TEST(LinkHalves, HostileOrBrokenInputEndsTheOpeningHalfWithNoPlainBytes) {
    struct Case {
        const char* name;
        Blob (*spoil)(Blob wire);  // what the attacker makes of one sealed message
        bool endsStream;           // the stream then ends
        bool firstCopyOpens;       // the genuine message came before the spoiled part
    };
    const Case cases[] = {
        {"flipped bit",
         [](Blob w) {
             w[5] ^= 0x10;
             return w;
         },
         false, false},
        {"shorter than its tag",
         [](Blob) {
             return Blob{0, 3, 1, 2, 3};
         },
         false, false},
        {"cut short at the end",
         [](Blob w) {
             w.resize(w.size() - 1);
             return w;
         },
         true, false},
        {"replayed",
         [](Blob w) {
             w.insert(w.end(), w.begin(), w.end());
             return w;
         },
         false, true},
        {"cut between messages, before the end marker", [](Blob w) { return w; }, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenLink link;
        seal::LinkHalves sender = seal::SplitOpenLink(std::move(link.initiator));
        seal::LinkHalves receiver = seal::SplitOpenLink(std::move(link.responder));
        const Blob secret = {'s', 'e', 'c', 'r', 'e', 't'};
        const Blob wire = c.spoil(Sealed(sender.sealing, secret));
        Blob plain;
        std::optional<LinkError> error = receiver.opening.Receive(View(wire), plain);
        if (c.endsStream) {
            ASSERT_FALSE(error);
            error = receiver.opening.PeerClosed();
        }
        EXPECT_EQ(error, LinkError::bad_message);
        EXPECT_EQ(plain, c.firstCopyOpens ? secret : Blob{});
        // A failure is final: a good message after it opens nothing.
        Blob after;
        EXPECT_EQ(receiver.opening.Receive(View(Sealed(sender.sealing, secret)), after),
                  LinkError::bad_message);
        EXPECT_TRUE(after.empty());
    }
}

// Halves with one key, as two relays hold them: a sealing half made twice
// plays a peer that goes on after its own end.
TEST(LinkHalves, AMessageAfterTheEndMarkerIsABadMessage) {
    const seal::CipherKey key{};
    const auto cipher = [&key](std::uint64_t nonce) {
        seal::CipherState state;
        state.InitializeKey(key);
        state.SetNonce(nonce);
        return state;
    };
    seal::SealingHalf sender(cipher(0), false);
    seal::SealingHalf twin(cipher(1), false);
    seal::OpeningHalf receiver(cipher(0), seal::FrameReader{}, false);
    Blob end;
    ASSERT_FALSE(sender.SealEnd(end));
    const Blob late = Sealed(twin, {'l', 'a', 't', 'e'});
    Blob plain;
    ASSERT_FALSE(receiver.Receive(View(end), plain));
    EXPECT_TRUE(receiver.EndedInOrder());
    EXPECT_EQ(receiver.Receive(View(late), plain), LinkError::bad_message);
    EXPECT_TRUE(plain.empty());
}

TEST(LinkHalves, AnEndMarkedBeforeTheSplitStaysMarked) {
    OpenLink link;
    ASSERT_FALSE(link.initiator.SealEnd());
    Blob plain;
    ASSERT_FALSE(link.responder.Receive(View(link.initiator.TakeOutput()), plain));
    seal::LinkHalves sender = seal::SplitOpenLink(std::move(link.initiator));
    seal::LinkHalves receiver = seal::SplitOpenLink(std::move(link.responder));
    EXPECT_TRUE(receiver.opening.EndedInOrder());
    EXPECT_FALSE(receiver.opening.PeerClosed());
    Blob out;
    EXPECT_THROW(sender.sealing.Seal(View(Blob{1}), out), std::logic_error);
}

TEST(LinkHalves, OnlyAnOpenLinkWithItsOutputTakenSplits) {
    const auto key = seal::GenerateLinkKey();
    EXPECT_THROW(seal::SplitOpenLink(LinkSealer(Role::initiator, key)), std::logic_error);

    // Open, but its confirmation not yet taken: splitting would lose it.
    LinkSealer initiator{Role::initiator, key};
    LinkSealer responder{Role::responder, key};
    Blob plain;
    ASSERT_FALSE(responder.Receive(View(initiator.TakeOutput()), plain));
    ASSERT_FALSE(initiator.Receive(View(responder.TakeOutput()), plain));
    ASSERT_TRUE(initiator.Open());
    EXPECT_THROW(seal::SplitOpenLink(std::move(initiator)), std::logic_error);
}

}  // namespace
