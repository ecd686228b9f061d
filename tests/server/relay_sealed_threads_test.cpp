// The threaded engine's sealed link, as two vorlane-relay processes with one
// LinkKey in their config files: a Client-mode relay beside the clients and
// a Server-mode relay beside the target. Plain bytes go in and come out at
// both ends; between the relays only sealed ones. Attackers play against
// the Server-mode relay directly: none of their bytes may reach the target.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cutting_tap.h"
#include "loopback_server.h"
#include "process_probe.h"
#include "random_bytes.h"
#include "relay_process.h"
#include "relay_test_helpers.h"
#include "scratch_directory.h"
#include "seal/link_key.h"
#include "seal/link_sealer.h"
#include "seal/message_frame.h"
#include "test_socket.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

const std::string kKey = "q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k=";
const std::string kOtherKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
constexpr char kRefusal[] = "too many connection\r\n";

std::string Sha256(const std::string& bytes) {
    unsigned char digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, bytes.data(), bytes.size());
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

// A threaded relay with the key in its config file, in the given mode.
std::unique_ptr<ListeningRelay> SealedRelay(const ScratchDirectory& directory,
                                            const std::string& key, const std::string& mode,
                                            std::uint16_t targetPort,
                                            std::vector<std::string> extra = {}) {
    const std::string config =
        directory.WriteFile(mode + ".ini", "[Vorlane]\nLinkKey=" + key + "\n");
    std::vector<std::string> arguments = {"--engine", "threads",  "--encode",
                                          mode,       "--config", config};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto relay = std::make_unique<ListeningRelay>(targetPort, arguments);
    EXPECT_TRUE(relay->WaitUntilListening()) << relay->Process().Stderr();
    return relay;
}

// A target that keeps all it is sent.
class RecordingTarget {
  public:
    RecordingTarget()
        : m_server([this](TestSocket& connection, int) {
              bool ended = false;
              const std::string got = connection.ReadToEnd(&ended, 30000);
              std::lock_guard<std::mutex> lock(m_mutex);
              m_received += got;
          }) {}
    std::uint16_t Port() const { return m_server.Port(); }
    int AcceptedCount() const { return m_server.AcceptedCount(); }
    std::string Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

  private:
    std::mutex m_mutex;
    std::string m_received;
    LoopbackServer m_server;
};

// The client end of the link's pair: target <- server relay <- client relay.
struct SealedPair {
    ScratchDirectory directory;
    std::unique_ptr<ListeningRelay> server;
    std::unique_ptr<ListeningRelay> client;

    SealedPair(std::uint16_t targetPort, std::vector<std::string> serverExtra = {}) {
        server = SealedRelay(directory, kKey, "server", targetPort, std::move(serverExtra));
        client = SealedRelay(directory, kKey, "client", server->Port());
    }
};

TEST(SealedThreadsTest, CarriesMegabytesBothWaysIntactAndCountsPlainBytes) {
    EchoServer target;
    SealedPair pair(target.Port());
    const std::string payload = RandomBytes(4u << 20, 7);

    TestSocket client = Connect(pair.client->Port());
    ASSERT_TRUE(client.valid());
    std::thread sender([&] {
        SendAll(client.fd(), payload.data(), payload.size());
        client.ShutdownSend();
    });
    bool ended = false;
    const std::string back = client.ReadToEnd(&ended, 60000);
    sender.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(back.size(), payload.size());
    EXPECT_TRUE(Sha256(back) == Sha256(payload));
    EXPECT_TRUE(Sha256(target.Received()) == Sha256(payload)) << "the target saw plain bytes";

    // Both relays count what their users sent, not the seal's frames and tags.
    const std::string totals = "up=4194304 down=4194304 ";
    for (ListeningRelay* relay : {pair.client.get(), pair.server.get()}) {
        EXPECT_TRUE(WaitUntil([&] {
            return relay->Process().Stderr().find(totals) != std::string::npos;
        })) << relay->Process().Stderr();
    }
}

// The client's end of stream crosses the link; the answer still comes back.
TEST(SealedThreadsTest, AHalfCloseCrossesTheLinkAndTheAnswerComesBack) {
    LoopbackServer target(AnswerAfterEndHandler());
    SealedPair pair(target.Port());
    TestSocket client = Connect(pair.client->Port());
    ASSERT_TRUE(client.Send("question"));
    client.ShutdownSend();
    bool ended = false;
    EXPECT_EQ(client.ReadToEnd(&ended), "question");
    EXPECT_TRUE(ended);
}

// A target that speaks first is heard though the client says nothing.
TEST(SealedThreadsTest, ATargetThatSpeaksFirstReachesASilentClient) {
    LoopbackServer target(GreetingHandler("SSH-2.0-test\r\n"));
    SealedPair pair(target.Port());
    TestSocket client = Connect(pair.client->Port());
    EXPECT_EQ(client.Read(14), "SSH-2.0-test\r\n");
}

// The Server-mode relay at its limit seals its refusal; the Client-mode
// relay opens it, so the client reads the usual plain words.
TEST(SealedThreadsTest, TheRefusalAtTheLimitArrivesInPlain) {
    EchoServer target;
    SealedPair pair(target.Port(), {"--limit", "2"});
    TestSocket held = Connect(pair.client->Port());
    ASSERT_TRUE(held.Send("x"));
    ASSERT_EQ(held.Read(1), "x");

    TestSocket refused = Connect(pair.client->Port());
    bool ended = false;
    EXPECT_EQ(refused.ReadToEnd(&ended), kRefusal);
    EXPECT_TRUE(ended);
    EXPECT_EQ(target.AcceptedCount(), 1);
    EXPECT_TRUE(pair.server->Process().WaitForStderr("event=refused", 5000));
}

using Blob = std::vector<std::uint8_t>;

std::string Text(const Blob& blob) {
    return {blob.begin(), blob.end()};
}

// An initiator played by the test, with any key.
struct TestInitiator {
    seal::LinkSealer link;
    explicit TestInitiator(const std::string& key)
        : link(seal::Role::initiator, std::get<seal::LinkKey>(seal::ParseLinkKey(key))) {}

    // The handshake to the end, over the connection; false if it failed.
    bool ShakeHands(TestSocket& connection) {
        if (!connection.Send(Text(link.TakeOutput())))
            return false;
        const std::string reply = connection.Read(2 + 48);
        Blob plain;
        if (link.Receive({reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()},
                         plain) ||
            !link.Open()) {
            return false;
        }
        return connection.Send(Text(link.TakeOutput()));
    }

    // Seals the text, sends it and opens one message that comes back.
    std::string RoundTrip(TestSocket& connection, const std::string& text) {
        if (link.Seal({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) ||
            !connection.Send(Text(link.TakeOutput()))) {
            return "(not sent)";
        }
        const std::string wire = connection.Read(2 + seal::kTagSize + text.size());
        Blob plain;
        link.Receive({reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()}, plain);
        return Text(plain);
    }
};

// Refused clients that stall their handshake each hold a refusal thread
// until the deadline; past a few, more are closed at once, so a flood at the
// limit cannot pile up threads.
TEST(SealedThreadsTest, StallingRefusedClientsHoldOnlyAFewThreads) {
    EchoServer target;
    ScratchDirectory directory;
    auto relay = SealedRelay(directory, kKey, "server", target.Port(), {"--limit", "2"});
    TestInitiator right(kKey);
    TestSocket held = Connect(relay->Port());
    ASSERT_TRUE(right.ShakeHands(held));
    // Through the target and back: both pumps of the held client run.
    ASSERT_EQ(right.RoundTrip(held, "x"), "x");
    const int threadsBefore = ReadProcess(relay->Process().Pid()).threads;

    constexpr int kStallers = 24;
    std::vector<TestSocket> stallers;
    for (int i = 0; i < kStallers; ++i) {
        stallers.push_back(Connect(relay->Port()));
        ASSERT_TRUE(stallers.back().valid());
    }
    // Those past the cap are closed at once (readable at their end); the
    // others wait for the deadline, seconds away.
    const auto closed = [&] {
        int count = 0;
        for (TestSocket& staller : stallers) {
            count += net::WaitReadable(staller.fd(), 0) ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(WaitUntil([&] { return closed() >= kStallers - 8; }, 5s));
    EXPECT_EQ(closed(), kStallers - 8);
    EXPECT_LE(ReadProcess(relay->Process().Pid()).threads, threadsBefore + 8);
}

// A genuine handshake over the connection, then the plain text sealed as
// it would go on the wire (not yet sent).
std::string SealedAfterHandshake(TestSocket& connection, const std::string& plain) {
    TestInitiator right(kKey);
    EXPECT_TRUE(right.ShakeHands(connection));
    EXPECT_FALSE(
        right.link.Seal({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()}));
    return Text(right.link.TakeOutput());
}

struct HostileCase {
    const char* name;
    // Plays the attack on a connection to the Server-mode relay.
    std::function<void(TestSocket&)> attack;
    const char* reason;  // the close line's reason
    bool stalls;         // ends only at the handshake's deadline
};

void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name;
}

class SealedHostileTest : public testing::TestWithParam<HostileCase> {};

// Closed, logged with its reason, and not one of the attacker's bytes
// reaches the target, nor a plain byte the attacker.
TEST_P(SealedHostileTest, IsClosedAndLoggedAndTheTargetGetsNothing) {
    const HostileCase& c = GetParam();
    RecordingTarget target;
    ScratchDirectory directory;
    auto relay = SealedRelay(directory, kKey, "server", target.Port());
    TestSocket attacker = Connect(relay->Port());
    ASSERT_TRUE(attacker.valid());
    const auto start = std::chrono::steady_clock::now();
    c.attack(attacker);
    bool ended = false;
    const std::string answer = attacker.ReadToEnd(&ended, 20000);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(ended || answer.empty()) << "the relay closed the connection";
    EXPECT_TRUE(WaitUntil([&] {
        return relay->Process().Stderr().find(std::string("reason=") + c.reason) !=
               std::string::npos;
    })) << relay->Process().Stderr();
    if (c.stalls) {
        EXPECT_GE(waited, 9s) << "closed before the deadline";
    } else {
        EXPECT_LT(waited, 9s) << "should fail at once, not at the deadline";
    }
    EXPECT_EQ(target.Received(), "");
    relay->Process().Stop();
    EXPECT_EQ(target.Received(), "") << "nothing arrived late either";
}

HostileCase Attack(const char* name, std::function<void(TestSocket&)> attack,
                   const char* reason = "handshake_failed", bool stalls = false) {
    return {name, std::move(attack), reason, stalls};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SealedHostileTest,
    testing::Values(
        Attack("WrongKey",
               [](TestSocket& s) {
                   TestInitiator wrong(kOtherKey);
                   EXPECT_FALSE(wrong.ShakeHands(s));
                   s.Send("secret");
               }),
        Attack("PlainClient", [](TestSocket& s) { s.Send("GET / HTTP/1.0\r\nHost: a\r\n\r\n"); }),
        Attack("RandomBytes", [](TestSocket& s) { s.Send(RandomBytes(300, 3)); }),
        Attack("RandomHandshakeSizedMessage",
               [](TestSocket& s) { s.Send(std::string("\x00\x30", 2) + RandomBytes(48, 4)); }),
        Attack(
            "TruncatedHandshakeThatStalls",
            [](TestSocket& s) {
                TestInitiator right(kKey);
                s.Send(Text(right.link.TakeOutput()).substr(0, 20));
            },
            "handshake_failed", true),
        Attack(
            "FlippedBitMidStream",
            [](TestSocket& s) {
                std::string wire = SealedAfterHandshake(s, "secret");
                wire[4] ^= 0x01;
                s.Send(wire);
            },
            "bad_message"),
        Attack(
            "MessageCutShortAtTheEnd",
            [](TestSocket& s) {
                const std::string wire = SealedAfterHandshake(s, "secret");
                s.Send(wire.substr(0, wire.size() - 1));
                s.ShutdownSend();
            },
            "bad_message")),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// An end of stream forged between the relays where a message ends (after
// the handshake, the confirmation and the client's first message): the
// Server-mode relay must take it for the cut it is, not for its client's end.
TEST(SealedThreadsTest, AnEndOfStreamForgedBetweenMessagesIsABadMessage) {
    EchoServer target;
    ScratchDirectory directory;
    auto server = SealedRelay(directory, kKey, "server", target.Port());
    CuttingTap tap(server->Port(), 3);
    auto client = SealedRelay(directory, kKey, "client", tap.Port());
    TestSocket user = Connect(client->Port());
    ASSERT_TRUE(user.Send("a whole message"));
    EXPECT_TRUE(WaitUntil([&] {
        return server->Process().Stderr().find("reason=bad_message") != std::string::npos;
    })) << server->Process().Stderr();
    user.Close();
    tap.Stop();
}

// A Client-mode relay whose target is no sealed relay: the target sees the
// handshake message and nothing of what the client sends, and the client
// gets nothing of what the target says.
TEST(SealedThreadsTest, AClientModeRelayBeforeAPlainTargetLeaksNothingEitherWay) {
    RecordingTarget target;
    ScratchDirectory directory;
    auto relay = SealedRelay(directory, kKey, "client", target.Port());
    TestSocket client = Connect(relay->Port());
    ASSERT_TRUE(client.Send("plain secret"));
    bool ended = false;
    EXPECT_EQ(client.ReadToEnd(&ended, 20000), "");
    EXPECT_TRUE(WaitUntil([&] {
        return relay->Process().Stderr().find("reason=handshake_failed") != std::string::npos;
    })) << relay->Process().Stderr();
    EXPECT_TRUE(WaitUntil([&] { return target.Received().size() == 2 + 48; }));
    EXPECT_EQ(target.Received().find("plain secret"), std::string::npos);
}

}  // namespace
