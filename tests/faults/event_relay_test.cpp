// The headless relay on its event engine, as a process: IPv6 beside IPv4 on
// one listener, and a target name looked up afresh for every client.
//
// The whole test runs in a network namespace of its own where one can be
// made, and names come from a hosts file of its own with name service set to
// files alone, so no look-up can leave the machine; without both the name
// tests are skipped.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "isolated_network.h"
#include "isolated_network_environment.h"
#include "loopback_server.h"
#include "relay_process.h"
#include "test_socket.h"
#include "traffic_check.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

const IsolatedNetworkEnvironment* const kNetwork = IsolatedNetworkEnvironment::Register();

std::vector<std::string> EventsWith(std::vector<std::string> args) {
    args.insert(args.begin(), {"--engine", "events"});
    return args;
}

// What a client from one address saw: its text echoed, the connection
// closed with nothing said, or no listener at all.
enum class Outcome { Served, Closed, NoListener };

std::ostream& operator<<(std::ostream& out, Outcome outcome) {
    const char* const names[] = {"served", "closed", "no listener"};
    return out << names[static_cast<int>(outcome)];
}

Outcome TryFrom(const std::string& address, std::uint16_t port) {
    TestSocket client = ConnectTo(address, port);
    if (!client.valid()) {
        return Outcome::NoListener;
    }
    SetReceiveTimeout(client.fd(), 10000);
    SendAll(client.fd(), "ping", 4);
    ::shutdown(client.fd(), SHUT_WR);
    return ReceiveUntilEnd(client.fd(), 64) == "ping" ? Outcome::Served : Outcome::Closed;
}

bool HasIpv6Loopback() {
    return ListenAt("::1", 0, 1).valid();
}

struct FamilyCase {
    const char* name;
    std::string target;          // --target
    std::string targetListener;  // where the echo target listens
    std::vector<std::string> args;
    Outcome fromV4;  // a client over 127.0.0.1
    Outcome fromV6;  // a client over ::1
};

void PrintTo(const FamilyCase& c, std::ostream* out) {
    *out << c.name;
}

class EventRelayFamilyTest : public testing::TestWithParam<FamilyCase> {};

TEST_P(EventRelayFamilyTest, ClientsOfEitherFamilyAreTreatedAsBindAndAllowSay) {
    const FamilyCase& c = GetParam();
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); },
                        ListenAt(c.targetListener, 0, SOMAXCONN));
    ASSERT_TRUE(echo.Listening());
    ListeningRelay relay(c.target, echo.Port(), EventsWith(c.args));
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();

    EXPECT_EQ(TryFrom("127.0.0.1", relay.Port()), c.fromV4);
    EXPECT_EQ(TryFrom("::1", relay.Port()), c.fromV6);
    const int served = (c.fromV4 == Outcome::Served) + (c.fromV6 == Outcome::Served);
    EXPECT_EQ(echo.AcceptedCount(), served) << "a client that was not served reached the target";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventRelayFamilyTest,
    testing::Values(
        FamilyCase{"DualStackToV6Target", "::1", "::1", {}, Outcome::Served, Outcome::Served},
        FamilyCase{"BracketedV6Target", "[::1]", "::1", {}, Outcome::Served, Outcome::Served},
        FamilyCase{
            "DualStackToV4Target", "127.0.0.1", "127.0.0.1", {}, Outcome::Served, Outcome::Served},
        FamilyCase{"BoundToV6Loopback",
                   "::1",
                   "::1",
                   {"--bind", "::1"},
                   Outcome::NoListener,
                   Outcome::Served},
        FamilyCase{"BoundToV4Loopback",
                   "::1",
                   "::1",
                   {"--bind", "127.0.0.1"},
                   Outcome::Served,
                   Outcome::NoListener},
        FamilyCase{"AllowsV6LoopbackOnly",
                   "::1",
                   "::1",
                   {"--allow", "::1/128"},
                   Outcome::Closed,
                   Outcome::Served},
        // A v4 client on the dual-stack listener arrives as ::ffff:127.0.0.1.
        FamilyCase{"AllowsV4RangeOnly",
                   "::1",
                   "::1",
                   {"--allow", "127.0.0.0/8"},
                   Outcome::Served,
                   Outcome::Closed}),
    [](const testing::TestParamInfo<FamilyCase>& info) { return info.param.name; });

// A name under the test-only top-level domain, answered by the hosts file.
constexpr char kTargetName[] = "moving-target.vorlane.test";

// A target that says where it listens and hangs up.
LoopbackServer::Handler Greeter(const std::string& address) {
    return [address](TestSocket& connection, int) {
        SendAll(connection.fd(), address.data(), address.size());
    };
}

// The client says nothing and keeps its end open: one that ended its stream
// without a byte before the target answered would be taken for gone.
std::string GreetingThrough(std::uint16_t port) {
    TestSocket client = Connect(port);
    SetReceiveTimeout(client.fd(), 10000);
    return ReceiveUntilEnd(client.fd(), 64);
}

// The addresses of a name in the order a stream client gets them.
std::vector<std::string> LookUp(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    std::vector<std::string> addresses;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return addresses;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* address =
            entry->ai_family == AF_INET6
                ? static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr)
                : &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
        addresses.emplace_back(::inet_ntop(entry->ai_family, address, text, sizeof text));
    }
    ::freeaddrinfo(found);
    return addresses;
}

// Names come from a hosts file of the test's own alone: name service is
// "files" only, so a name missing from it is asked of no server either.
class EventRelayNameTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!kNetwork->isolated()) {
            GTEST_SKIP() << "no isolated network namespace (needs root): no name is looked up";
        }
        if (!nameService_.active() || !hosts_.active()) {
            GTEST_SKIP() << "no private mount namespace for the name service files (needs root)";
        }
        if (::access("/var/run/nscd/socket", F_OK) == 0) {
            GTEST_SKIP() << "a name service cache would answer from the machine's own files";
        }
        ASSERT_TRUE(nameService_.Write("hosts: files\n"));
    }

    // Gives the name these addresses, in this order. Called while no look-up
    // is under way.
    void PointNameAt(const std::vector<std::string>& addresses) {
        std::string lines;
        for (const std::string& address : addresses) {
            lines += address + " " + kTargetName + "\n";
        }
        ASSERT_TRUE(hosts_.Write(lines));
        ASSERT_EQ(LookUp(kTargetName), addresses) << "the hosts file is not what answers";
    }

    PrivateSystemFile nameService_{"/etc/nsswitch.conf"};
    PrivateSystemFile hosts_{"/etc/hosts"};
};

// What the name leads to when a client arrives, and the target that must
// greet that client.
struct NamePhase {
    std::vector<std::string> addresses;
    std::string greeter;
};

TEST_F(EventRelayNameTest, EachClientGoesWhereTheNameLeadsWhenItArrives) {
    // One port on every address; nothing listens on 127.0.0.5.
    std::vector<std::string> addresses = {"127.0.0.2", "127.0.0.3"};
    std::vector<NamePhase> phases = {
        {{"127.0.0.2"}, "127.0.0.2"},
        {{"127.0.0.3"}, "127.0.0.3"},
        {{"127.0.0.5", "127.0.0.2"}, "127.0.0.2"},  // refused: the next address is tried
    };
    if (HasIpv6Loopback()) {
        addresses.emplace_back("::1");
        phases.push_back({{"::1"}, "::1"});  // the other family than the first look-up's
    }
    std::vector<std::unique_ptr<LoopbackServer>> targets;
    std::uint16_t port = 0;
    for (const std::string& address : addresses) {
        targets.push_back(
            std::make_unique<LoopbackServer>(Greeter(address), ListenAt(address, port, SOMAXCONN)));
        ASSERT_TRUE(targets.back()->Listening()) << address;
        port = targets.back()->Port();
    }

    std::unique_ptr<ListeningRelay> relay;
    for (const NamePhase& phase : phases) {
        // The previous client had its greeting, so its look-up is over.
        ASSERT_NO_FATAL_FAILURE(PointNameAt(phase.addresses));
        if (!relay) {
            relay = std::make_unique<ListeningRelay>(kTargetName, port, EventsWith({}));
            ASSERT_TRUE(relay->WaitUntilListening()) << relay->Process().Stderr();
        }
        EXPECT_EQ(GreetingThrough(relay->Port()), phase.greeter) << phase.addresses.front();
    }

    relay->Process().Stop();
    EXPECT_EQ(relay->Process().ExitCode(), 0);
    const std::string err = relay->Process().Stderr();
    EXPECT_EQ(err.find("event=target_unresolved"), std::string::npos)
        << "the name did not resolve at start: " << err;
}

TEST_F(EventRelayNameTest, NameUnknownAtStartIsAWarningAndAskedAgainForEachClient) {
    LoopbackServer target(Greeter("127.0.0.2"), ListenAt("127.0.0.2", 0, SOMAXCONN));
    ASSERT_TRUE(target.Listening());
    ASSERT_NO_FATAL_FAILURE(PointNameAt({}));
    ListeningRelay relay(kTargetName, target.Port(), EventsWith({}));
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.Process().Stderr();
    const std::string err = relay.Process().Stderr();
    const std::string warning =
        " level=warn event=target_unresolved target=" + std::string(kTargetName);
    EXPECT_NE(err.find(warning), std::string::npos) << err;
    EXPECT_EQ(err.find(warning), err.rfind(warning)) << err;

    EXPECT_EQ(GreetingThrough(relay.Port()), "")
        << "a client was relayed to a name with no address";
    ASSERT_NO_FATAL_FAILURE(PointNameAt({"127.0.0.2"}));
    EXPECT_EQ(GreetingThrough(relay.Port()), "127.0.0.2");
    EXPECT_EQ(target.AcceptedCount(), 1);
}

}  // namespace
