// The event engine's acceptors: one per worker where they share the port.
// Whichever accepts a client must admit it with the run's current settings.
#include <memory>
#include <string>

#include "relay_fixture.h"

namespace testing_support {
namespace {

class EventListeners : public RelayFixture {
  protected:
    // More workers than cores: more acceptors for the clients to spread over.
    EventRelayEngine& UseWorkers(int workers) {
        auto relay = std::make_unique<EventRelayEngine>(display, workers);
        EventRelayEngine& events = *relay;
        engine = std::move(relay);
        return events;
    }

    // Clients one after another, each echoed whole.
    void EchoThrough(int clients, const std::string& text) {
        for (int i = 0; i < clients; ++i) {
            TestSocket client = Connect();
            ExpectEcho(client, text);
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Events, EventListeners, testing::Values(EngineKind::Events), EngineName);

TEST_P(EventListeners, ClientsAfterAReloadReachTheNewTargetWhoeverAcceptsThem) {
    EventRelayEngine& events = UseWorkers(4);
    Start(RequestTo(echo.Port()));
    const int port = events.ListeningPort();
    EchoThrough(8, "before");
    EXPECT_EQ(echo.AcceptedCount(), 8);

    EchoServer next;
    StartRequest reload = RequestTo(next.Port());
    reload.allowFrom = {*net::IpRange::Parse("127.0.0.0/8")};
    ASSERT_TRUE(events.Reconfigure(reload));
    EXPECT_EQ(events.ListeningPort(), port);  // the same listeners
    EchoThrough(16, "after");
    EXPECT_EQ(next.AcceptedCount(), 16);
    EXPECT_EQ(echo.AcceptedCount(), 8);

    // A reload that admits no one reaches every acceptor too.
    StartRequest closed = RequestTo(next.Port());
    closed.allowFrom = {*net::IpRange::Parse("10.0.0.0/8")};
    ASSERT_TRUE(events.Reconfigure(closed));
    for (int i = 0; i < 16; ++i) {
        TestSocket client = Connect();
        ASSERT_TRUE(client.valid());
        bool sawEnd = false;
        EXPECT_EQ(client.ReadToEnd(&sawEnd), "");
        EXPECT_TRUE(sawEnd);
    }
    EXPECT_EQ(events.DeniedCount(), 16);
    EXPECT_EQ(next.AcceptedCount(), 16);
    next.Stop();
}

TEST_P(EventListeners, StopEndsEveryAcceptorAndAStartOnTheSamePortFollows) {
    EventRelayEngine& events = UseWorkers(4);
    Start(RequestTo(echo.Port()));
    StartRequest again = RequestTo(echo.Port());
    again.localPort = events.ListeningPort();
    events.StopListening();
    ASSERT_TRUE(events.WaitForWorkers(kPatienceMs));
    EXPECT_FALSE(events.IsListening());

    // One acceptor left open would take the port from the new run's probe.
    Start(again);
    EXPECT_EQ(events.ListeningPort(), again.localPort);
    EchoThrough(8, "again");
    EXPECT_EQ(echo.AcceptedCount(), 8);
}

}  // namespace
}  // namespace testing_support
