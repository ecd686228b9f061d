// The event engine's time-outs in the headless relay, as a process: a target
// that never answers the handshake is given up after --connect-timeout, and a
// connection with no bytes either way for --idle-timeout is closed, a
// half-closed one included, while one that trickles stays open.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "hanging_target.h"
#include "loopback_server.h"
#include "process_probe.h"
#include "relay_process.h"
#include "test_socket.h"
#include "traffic_check.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

// Reads and drops what arrives until the relay ends the connection (an end
// of stream or a reset); when it did, or nothing when it has not by then.
std::optional<Clock::time_point> WaitForEnd(int fd, std::chrono::milliseconds limit) {
    SetReceiveTimeout(fd, 100);
    const auto deadline = Clock::now() + limit;
    char buffer[256];
    while (Clock::now() < deadline) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return Clock::now();
        }
    }
    return std::nullopt;
}

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

TEST(EventConnectTimeoutTest, TargetThatNeverAnswersIsGivenUpAndTheRelayServesOn) {
    HangingTarget hanging;
    ASSERT_TRUE(hanging.ConnectHangs(1500ms))
        << "a connect to a full accept queue was answered: no target here can hang";
    ListeningRelay relay(hanging.port(), {"--engine", "events", "--connect-timeout", "1"});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();

    TestSocket client = Connect(relay.Port());
    ASSERT_TRUE(client.valid());
    const auto connected = Clock::now();
    SendAll(client.fd(), "ping", 4);
    const auto end = WaitForEnd(client.fd(), 8s);
    ASSERT_TRUE(end) << "the client was still open 8 s after its target went silent";
    const double waited = SecondsBetween(connected, *end);
    EXPECT_GE(waited, 0.5) << "given up before the time-out";
    EXPECT_LE(waited, 5.0);

    // Once the target accepts again, the same relay serves.
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); },
                        hanging.TakeListener());
    // With the queued filler taken, the relay's connect finds room at once.
    ASSERT_TRUE(WaitUntil([&] { return echo.AcceptedCount() == 1; }));
    TestSocket next = Connect(relay.Port());
    EXPECT_TRUE(EchoRoundTrip(next.fd(), 64 << 10, 3));
    next.Close();
    relay.Process().Stop();
    EXPECT_EQ(relay.Process().ExitCode(), 0) << relay.Process().Stderr();
}

// Which end sends one byte every 300 ms for three seconds, three idle
// time-outs' worth, before the connection falls quiet.
enum class Trickle { None, FromClient, FromTarget };
constexpr int kTrickleBytes = 10;
constexpr auto kTrickleGap = 300ms;

struct IdleCase {
    const char* name;
    Trickle trickle;
    bool halfClosed;  // the client shuts down its sending side first
};

void PrintTo(const IdleCase& c, std::ostream* out) {
    *out << c.name;
}

// Sets the flag when the test leaves, on a failed assertion too, so the
// target's handlers end before the target is joined.
struct RaiseOnExit {
    std::atomic<bool>& flag;
    ~RaiseOnExit() { flag = true; }
};

class EventIdleTimeoutTest : public testing::TestWithParam<IdleCase> {};

TEST_P(EventIdleTimeoutTest, ClosedOnceQuietForTheTimeOutAndNotWhileBytesMove) {
    const IdleCase& c = GetParam();
    std::atomic<bool> release{false};
    LoopbackServer target([&](TestSocket& connection, int) {
        for (int i = 0; c.trickle == Trickle::FromTarget && i < kTrickleBytes && !release; ++i) {
            std::this_thread::sleep_for(kTrickleGap);
            SendAll(connection.fd(), "t", 1);
        }
        // Takes what comes until the relay ends it, and never closes first.
        SetReceiveTimeout(connection.fd(), 20000);
        ReceiveUntilEnd(connection.fd(), 1 << 20);
        WaitUntil([&] { return release.load(); }, 30s);
    });
    const RaiseOnExit releaseTarget{release};
    ListeningRelay relay(target.Port(), {"--engine", "events", "--idle-timeout", "1"});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();
    const pid_t pid = relay.Process().Pid();
    std::this_thread::sleep_for(300ms);
    const int descriptorsBefore = ReadProcess(pid).descriptors;

    TestSocket client = Connect(relay.Port());
    ASSERT_TRUE(WaitUntil([&] { return target.AcceptedCount() == 1; }));
    if (c.halfClosed) {
        ::shutdown(client.fd(), SHUT_WR);
    }
    auto lastByte = Clock::now();
    SetReceiveTimeout(client.fd(), 2000);
    for (int i = 0; c.trickle != Trickle::None && i < kTrickleBytes; ++i) {
        if (c.trickle == Trickle::FromClient) {
            pollfd ended{client.fd(), POLLIN, 0};
            ASSERT_EQ(::poll(&ended, 1, static_cast<int>(kTrickleGap.count())), 0)
                << "closed while the client sent, after byte " << i;
            ASSERT_TRUE(SendAll(client.fd(), "c", 1));
        } else {
            char byte = 0;
            ASSERT_TRUE(ReceiveExactly(client.fd(), &byte, 1))
                << "closed while the target sent, before byte " << i;
        }
        lastByte = Clock::now();
    }

    const auto end = WaitForEnd(client.fd(), 8s);
    ASSERT_TRUE(end) << "still open 8 s after the last byte";
    const double quiet = SecondsBetween(lastByte, *end);
    EXPECT_GE(quiet, 0.5) << "closed before the idle time-out";
    EXPECT_LE(quiet, 5.0);
    EXPECT_TRUE(WaitUntil([&] { return ReadProcess(pid).descriptors == descriptorsBefore; }, 5s))
        << "the relay still holds " << ReadProcess(pid).descriptors - descriptorsBefore
        << " descriptors of the closed connection";
}

INSTANTIATE_TEST_SUITE_P(Cases, EventIdleTimeoutTest,
                         testing::Values(IdleCase{"Quiet", Trickle::None, false},
                                         IdleCase{"ClientTrickles", Trickle::FromClient, false},
                                         IdleCase{"TargetTrickles", Trickle::FromTarget, false},
                                         IdleCase{"HalfClosedAndQuiet", Trickle::None, true}),
                         [](const testing::TestParamInfo<IdleCase>& info) {
                             return info.param.name;
                         });

}  // namespace
