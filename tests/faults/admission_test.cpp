// Who gets a place when clients crowd the headless relay, as a process: one
// address's silent connections cannot lock other addresses out (the
// per-address cap and the first-byte time-out), the limit holds in a burst of
// clients on both engines, and clients that leave while the target is slow to
// answer give their places and descriptors back at once.
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hanging_target.h"
#include "loopback_server.h"
#include "process_probe.h"
#include "relay_process.h"
#include "test_socket.h"
#include "traffic_check.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr char kRefusal[] = "too many connection\r\n";

// What has arrived on the socket so far, left in place.
std::string Arrived(int fd) {
    char buffer[64];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_PEEK);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

std::size_t Occurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// One round trip of a short text through the relay, from a given address.
bool ServedFrom(const std::string& address, std::uint16_t port) {
    TestSocket client = ConnectFrom(address, port);
    char answer[4] = {};
    SetReceiveTimeout(client.fd(), 5000);
    return client.valid() && SendAll(client.fd(), "ping", 4) &&
           ReceiveExactly(client.fd(), answer, sizeof answer) &&
           std::string(answer, sizeof answer) == "ping";
}

struct CapCase {
    const char* name;
    int clients;  // all from 127.0.0.2, at once
    bool speak;   // each sends a line and keeps the connection busy
    int refused;  // past the cap of 40
};

void PrintTo(const CapCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayAddressCapTest : public testing::TestWithParam<CapCase> {};

// At the defaults (ConnectionLimit=100: 50 clients; 40 per address) but a
// first-byte time-out of 3 s: one address gets at most 40 places and others
// are still served; its silent connections are closed once the time-out
// expires, while its busy ones stay through a longer quiet spell.
TEST_P(RelayAddressCapTest, OneAddressCannotKeepOthersOut) {
    const CapCase& c = GetParam();
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); });
    ListeningRelay relay(echo.Port(), {"--engine", "events", "--first-byte-timeout", "3"});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();

    std::vector<TestSocket> clients;
    for (int i = 0; i < c.clients; ++i) {
        clients.push_back(ConnectFrom("127.0.0.2", relay.Port()));
        ASSERT_TRUE(clients.back().valid()) << "client " << i;
    }
    const auto line = [](int i) { return "line " + std::to_string(i) + "\n"; };
    for (int i = 0; c.speak && i < c.clients; ++i) {
        ASSERT_TRUE(SendAll(clients[i].fd(), line(i).data(), line(i).size()));
    }
    const auto count = [&](const std::function<bool(int, const std::string&)>& match) {
        int n = 0;
        for (int i = 0; i < c.clients; ++i) {
            n += match(i, Arrived(clients[i].fd())) ? 1 : 0;
        }
        return n;
    };
    const auto refused = [&] {
        return count([](int, const std::string& s) { return s == kRefusal; });
    };
    const auto echoed = [&] {
        return count([&](int i, const std::string& s) { return s == line(i); });
    };
    ASSERT_TRUE(WaitUntil([&] { return refused() >= c.refused; }, 2s)) << refused() << " refused";
    if (c.speak) {
        ASSERT_TRUE(WaitUntil([&] { return echoed() == c.clients - c.refused; }, 5s))
            << echoed() << " echoed";
    }
    std::this_thread::sleep_for(200ms);  // a late refusal too many would show now
    EXPECT_EQ(refused(), c.refused);
    EXPECT_TRUE(ServedFrom("127.0.0.3", relay.Port())) << "another address was kept out";

    if (c.speak) {
        // Quiet for longer than the first-byte time-out: bytes have moved, so they stay.
        std::this_thread::sleep_for(4s);
        for (int i = 0; i < c.clients; ++i) {
            if (Arrived(clients[i].fd()) == line(i)) {
                char answer[32];
                SetReceiveTimeout(clients[i].fd(), 5000);
                ASSERT_TRUE(ReceiveExactly(clients[i].fd(), answer, line(i).size()));
                EXPECT_TRUE(EchoRoundTrip(clients[i].fd(), 1000, i)) << "client " << i;
            }
        }
    } else {
        // The silent ones are closed with nothing said, which frees the address's places.
        for (int i = 0; i < c.clients; ++i) {
            SetReceiveTimeout(clients[i].fd(), 8000);
            bool clean = false;
            const std::string got = ReceiveUntilEnd(clients[i].fd(), 64, &clean);
            EXPECT_TRUE(clean) << "client " << i << " still open after the first-byte time-out";
            EXPECT_TRUE(got.empty() || got == kRefusal) << got;
        }
        EXPECT_TRUE(ServedFrom("127.0.0.2", relay.Port()));
        const auto timedOut = [&] {
            return Occurrences(relay.Process().Stderr(), "reason=first_byte_timeout");
        };
        const auto expected = static_cast<std::size_t>(c.clients - c.refused);
        EXPECT_TRUE(WaitUntil([&] { return timedOut() >= expected; }, 2s));
        EXPECT_EQ(timedOut(), expected);
    }
    // The first refusal of an interval is logged at once; the rest are counted
    // into a summary line when the interval ends.
    EXPECT_EQ(Occurrences(relay.Process().Stderr(), "event=refused client=127.0.0.2"), 1U);
    EXPECT_GE(Occurrences(relay.Process().Stderr(), "reason=address_limit"), 1U);
}

INSTANTIATE_TEST_SUITE_P(Cases, RelayAddressCapTest,
                         testing::Values(CapCase{"FortyOneBusyClients", 41, true, 1},
                                         CapCase{"FiftySilentClients", 50, false, 10}),
                         [](const testing::TestParamInfo<CapCase>& info) {
                             return info.param.name;
                         });

struct BurstCase {
    const char* name;
    const char* engine;
    const char* target;  // a name is looked up for every client
};

void PrintTo(const BurstCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayBurstLimitTest : public testing::TestWithParam<BurstCase> {};

// --limit 4 is two clients, however many connect at once: the target never
// holds more than two connections and everyone else gets the refusal text.
TEST_P(RelayBurstLimitTest, ThreeHundredClientsAtOnceGetTwoPlaces) {
    const BurstCase& c = GetParam();
    if (std::string(c.target) != "127.0.0.1") {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        if (::getaddrinfo(c.target, nullptr, &hints, &found) != 0) {
            GTEST_SKIP() << c.target << " does not resolve here";
        }
        ::freeaddrinfo(found);
    }
    std::atomic<int> live{0};
    std::atomic<int> most{0};
    LoopbackServer target([&](TestSocket& connection, int) {
        const int now = live.fetch_add(1) + 1;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        LoopbackServer::Echo(connection);
        live.fetch_sub(1);
    });
    ListeningRelay relay(c.target, target.Port(),
                         {"--engine", c.engine, "--limit", "4", "--clients-per-address", "0"});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();

    constexpr int kClients = 300;
    std::vector<TestSocket> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(ConnectNonBlocking(relay.Port()));
        ASSERT_TRUE(clients.back().valid());
    }
    for (TestSocket& client : clients) {
        pollfd connected{client.fd(), POLLOUT, 0};
        ASSERT_EQ(::poll(&connected, 1, 5000), 1);
        ASSERT_EQ(::send(client.fd(), "x", 1, MSG_NOSIGNAL), 1);
    }
    int echoed = 0;
    int refused = 0;
    const bool answered = WaitUntil(
        [&] {
            echoed = refused = 0;
            for (TestSocket& client : clients) {
                const std::string got = Arrived(client.fd());
                echoed += got == "x" ? 1 : 0;
                refused += got == kRefusal ? 1 : 0;
            }
            return echoed + refused == kClients;
        },
        20s);
    EXPECT_TRUE(answered) << echoed << " echoed, " << refused << " refused";
    EXPECT_LE(most.load(), 2) << "the target held more than two connections at once";
    EXPECT_GE(echoed, 1);
    EXPECT_LE(echoed, 2);
    clients.clear();
    relay.Process().Stop();
    EXPECT_EQ(relay.Process().ExitCode(), 0) << relay.Process().Stderr();
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayBurstLimitTest,
                         testing::Values(BurstCase{"Threads", "threads", "127.0.0.1"},
                                         BurstCase{"Events", "events", "127.0.0.1"},
                                         BurstCase{"EventsToAName", "events", "localhost"}),
                         [](const testing::TestParamInfo<BurstCase>& info) {
                             return info.param.name;
                         });

struct LeaveCase {
    const char* name;
    bool reset;          // else an end of stream before any byte
    const char* reason;  // as the relay logs the close
};

void PrintTo(const LeaveCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayClientLeavesWhileConnectingTest : public testing::TestWithParam<LeaveCase> {};

// 200 clients come and go while the relay's connect to their target hangs:
// every one is closed at once, its pending connect given up, and the relay's
// descriptors are back where they were, long before the connect time-out.
TEST_P(RelayClientLeavesWhileConnectingTest, ItsPlaceAndDescriptorsAreFreedAtOnce) {
    const LeaveCase& c = GetParam();
    HangingTarget hanging;
    ASSERT_TRUE(hanging.ConnectHangs(1500ms))
        << "a connect to a full accept queue was answered: no target here can hang";
    ListeningRelay relay(hanging.port(), {"--engine", "events", "--limit", "400",
                                          "--clients-per-address", "0", "--connect-timeout", "30"});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();
    const pid_t pid = relay.Process().Pid();
    std::this_thread::sleep_for(300ms);
    const int descriptorsBefore = ReadProcess(pid).descriptors;

    constexpr int kClients = 200;
    std::vector<TestSocket> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(Connect(relay.Port()));
        ASSERT_TRUE(clients.back().valid());
    }
    ASSERT_TRUE(
        WaitUntil([&] { return ReadProcess(pid).descriptors >= descriptorsBefore + kClients; }, 5s))
        << "the relay did not take the clients in";
    for (TestSocket& client : clients) {
        if (c.reset) {
            SetAbortiveClose(client.fd());
        }
        client.Close();
    }
    EXPECT_TRUE(WaitUntil([&] { return ReadProcess(pid).descriptors == descriptorsBefore; }, 2s))
        << "the relay still holds " << ReadProcess(pid).descriptors - descriptorsBefore
        << " descriptors of clients that left";
    const std::string needle = std::string("reason=") + c.reason;
    EXPECT_TRUE(WaitUntil(
        [&] {
            return Occurrences(relay.Process().Stderr(), needle) ==
                   static_cast<std::size_t>(kClients);
        },
        2s))
        << Occurrences(relay.Process().Stderr(), needle) << " closed with " << needle;
    relay.Process().Stop();
    EXPECT_EQ(relay.Process().ExitCode(), 0) << relay.Process().Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayClientLeavesWhileConnectingTest,
    testing::Values(LeaveCase{"Reset", true, "reset"},
                    LeaveCase{"EndOfStreamBeforeAnyByte", false, "client_closed"}),
    [](const testing::TestParamInfo<LeaveCase>& info) { return info.param.name; });

// A client that sent its request and half-closed before the target answered
// has not left: the request goes through once the target answers, and so does
// the reply.
TEST(RelayClientLeavesWhileConnectingTest, ARequestThenAHalfCloseIsKept) {
    HangingTarget hanging;
    ASSERT_TRUE(hanging.ConnectHangs(1500ms))
        << "a connect to a full accept queue was answered: no target here can hang";
    ListeningRelay relay(hanging.port(), {"--engine", "events", "--connect-timeout", "30"});
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();

    TestSocket client = Connect(relay.Port());
    ASSERT_TRUE(SendAll(client.fd(), "request", 7));
    ::shutdown(client.fd(), SHUT_WR);
    std::this_thread::sleep_for(500ms);  // the relay has seen the request and the end by now
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); },
                        hanging.TakeListener());
    SetReceiveTimeout(client.fd(), 10000);
    bool clean = false;
    EXPECT_EQ(ReceiveUntilEnd(client.fd(), 64, &clean), "request");
    EXPECT_TRUE(clean);
}

}  // namespace
