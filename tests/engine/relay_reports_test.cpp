// What each engine reports of its clients, typed: who came, where they were
// relayed, what they carried and how they ended, and who was turned away.
#include <mutex>
#include <string>
#include <vector>

#include "recording_events.h"
#include "relay/relay_events.h"
#include "relay_fixture.h"
#include "wait.h"

namespace testing_support {
namespace {

class RelayReports : public RelayFixture {
  protected:
    RelayReports() { engine = MakeEngine(GetParam(), display, events); }

    static void ExpectLoopback(const PeerAddress& peer, int port) {
        EXPECT_EQ(peer.address, net::IpAddress::FromV4(0x7F000001));
        EXPECT_EQ(peer.port, port);
    }

    RecordingEvents events;
};

VORLANE_FOR_BOTH_ENGINES(RelayReports);

TEST_P(RelayReports, ConnectionIsReportedWithItsAddressesBytesAndEnd) {
    Start(RequestTo(echo.Port()));
    TestSocket client = Connect();
    const int clientPort = net::LocalPort(client.fd());
    ExpectEcho(client, "hello");
    client.ShutdownSend();
    bool sawEnd = false;
    EXPECT_EQ(client.ReadToEnd(&sawEnd), "");
    ASSERT_TRUE(WaitUntil([&] { return events.Closed().size() == 1; }));

    const std::vector<ConnectionReport> accepted = events.Accepted();
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0].id, 1u);
    ExpectLoopback(accepted[0].client, clientPort);
    const std::vector<ConnectionReport> opened = events.Opened();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].id, 1u);
    ExpectLoopback(opened[0].target, echo.Port());
    const ConnectionEnd end = events.Closed()[0];
    EXPECT_EQ(end.connection.id, 1u);
    ExpectLoopback(end.connection.client, clientPort);
    ExpectLoopback(end.connection.target, echo.Port());
    // The client ended first; the echo's end was the last.
    EXPECT_EQ(end.reason, CloseReason::TargetClosed);
    EXPECT_EQ(end.bytesUp, 5);
    EXPECT_EQ(end.bytesDown, 5);
    EXPECT_GE(end.duration.count(), 0);
    EXPECT_TRUE(WaitUntil([&] { return engine->LiveConnections() == 0; }));
}

TEST_P(RelayReports, TargetThatRefusesEndsTheConnectionAsConnectFailed) {
    const int closedPort = [] {
        LoopbackServer gone([](TestSocket&, int) {});
        return gone.Port();
    }();
    Start(RequestTo(closedPort));
    TestSocket client = Connect();
    bool sawEnd = false;
    EXPECT_EQ(client.ReadToEnd(&sawEnd), "");
    ASSERT_TRUE(WaitUntil([&] { return events.Closed().size() == 1; }));
    EXPECT_TRUE(events.Opened().empty());
    const ConnectionEnd end = events.Closed()[0];
    EXPECT_EQ(end.reason, CloseReason::ConnectFailed);
    EXPECT_EQ(end.connection.target.port, 0);
    EXPECT_EQ(end.bytesUp + end.bytesDown, 0);
}

TEST_P(RelayReports, TurnedAwayClientsAreReportedWithTheirAddressAndWhy) {
    struct Case {
        const char* name;
        int limit;
        std::vector<net::IpRange> allowFrom;
        RefusalReason reason;
        std::int64_t refused;
        std::int64_t denied;
    };
    const Case cases[] = {
        {"limit", 0, {}, RefusalReason::LimitReached, 1, 0},
        {"allow list", 100, {*net::IpRange::Parse("10.0.0.0/8")}, RefusalReason::NotAllowed, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEvents seen;
        RecordingDisplay quiet;
        std::unique_ptr<RelayControl> relay = MakeEngine(GetParam(), quiet, seen);
        StartRequest request = RequestTo(echo.Port());
        request.connectionLimit = c.limit;
        request.allowFrom = c.allowFrom;
        ASSERT_TRUE(relay->StartListening(request));
        TestSocket client =
            testing_support::Connect(static_cast<std::uint16_t>(relay->ListeningPort()));
        const int clientPort = net::LocalPort(client.fd());
        bool sawEnd = false;
        client.ReadToEnd(&sawEnd);
        EXPECT_TRUE(sawEnd);
        ASSERT_TRUE(WaitUntil([&] { return seen.Refused().size() == 1; }));
        EXPECT_EQ(seen.Refused()[0].reason, c.reason);
        ExpectLoopback(seen.Refused()[0].client, clientPort);
        EXPECT_TRUE(seen.Accepted().empty());
        EXPECT_EQ(relay->RefusedCount(), c.refused);
        EXPECT_EQ(relay->DeniedCount(), c.denied);
        relay->StopListening();
        ASSERT_TRUE(relay->WaitForWorkers(kPatienceMs));
    }
}

}  // namespace
}  // namespace testing_support
