// The headless relay on its event engine, as a process: IPv6 beside IPv4 on
// one listener, and a target name looked up afresh for every client.
//
// The whole test runs in a network namespace of its own where one can be
// made, so that a name that slipped past the test's hosts file would find no
// name server to ask off this machine; without one the name test is skipped.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "isolated_network.h"
#include "isolated_network_environment.h"
#include "loopback_socket.h"
#include "relay_process.h"
#include "scripted_target.h"
#include "traffic_check.h"

namespace {

using namespace std::chrono_literals;

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
    loopback::Socket client = loopback::ConnectTo(address, port);
    if (!client.valid()) {
        return Outcome::NoListener;
    }
    loopback::SetReceiveTimeout(client.fd(), 10000);
    loopback::SendAll(client.fd(), "ping", 4);
    ::shutdown(client.fd(), SHUT_WR);
    return loopback::ReceiveUntilEnd(client.fd(), 64) == "ping" ? Outcome::Served : Outcome::Closed;
}

bool HasIpv6Loopback() {
    return loopback::ListenAt("::1", 0, 1).valid();
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
    ScriptedTarget echo([](loopback::Socket& connection, int) { ScriptedTarget::Echo(connection); },
                        loopback::ListenAt(c.targetListener, 0, SOMAXCONN));
    ASSERT_TRUE(echo.valid());
    RelayProcess relay(c.target, echo.port(), EventsWith(c.args));
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.process().Output(OutputStream::Err);

    EXPECT_EQ(TryFrom("127.0.0.1", relay.port()), c.fromV4);
    EXPECT_EQ(TryFrom("::1", relay.port()), c.fromV6);
    const int served = (c.fromV4 == Outcome::Served) + (c.fromV6 == Outcome::Served);
    EXPECT_EQ(echo.accepted(), served) << "a client that was not served reached the target";
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

// A target that says who it is and hangs up.
ScriptedTarget::Handler Greeter(const std::string& name) {
    return [name](loopback::Socket& connection, int) {
        loopback::SendAll(connection.fd(), name.data(), name.size());
    };
}

std::string GreetingThrough(std::uint16_t port) {
    loopback::Socket client = loopback::Connect(port);
    loopback::SetReceiveTimeout(client.fd(), 10000);
    ::shutdown(client.fd(), SHUT_WR);
    return loopback::ReceiveUntilEnd(client.fd(), 64);
}

TEST(EventRelayNameTest, EachClientGoesWhereTheNameLeadsWhenItArrives) {
    if (!kNetwork->isolated()) {
        GTEST_SKIP() << "no isolated network namespace (needs root): no name is looked up";
    }
    const PrivateHostsFile hosts;
    if (!hosts.active()) {
        GTEST_SKIP() << "no private mount namespace for a hosts file (needs root)";
    }
    ScriptedTarget first(Greeter("first"), loopback::ListenAt("127.0.0.2", 0, SOMAXCONN));
    ASSERT_TRUE(first.valid());
    ScriptedTarget second(Greeter("second"),
                          loopback::ListenAt("127.0.0.3", first.port(), SOMAXCONN));
    ASSERT_TRUE(second.valid());
    ASSERT_TRUE(hosts.Write(std::string("127.0.0.2 ") + kTargetName + "\n"));

    RelayProcess relay(kTargetName, first.port(), EventsWith({}));
    ASSERT_TRUE(relay.WaitUntilListening()) << relay.process().Output(OutputStream::Err);
    EXPECT_EQ(GreetingThrough(relay.port()), "first");

    // Moved while no look-up is under way.
    ASSERT_TRUE(WaitUntil([&] { return first.finished() == 1; }));
    ASSERT_TRUE(hosts.Write(std::string("127.0.0.3 ") + kTargetName + "\n"));
    EXPECT_EQ(GreetingThrough(relay.port()), "second");

    EXPECT_EQ(first.accepted(), 1);
    EXPECT_EQ(second.accepted(), 1);
    relay.process().Stop();
    EXPECT_EQ(relay.process().ExitCode(), 0);
    EXPECT_EQ(relay.process().Output(OutputStream::Err), "") << "the name did not resolve at start";
}

}  // namespace
