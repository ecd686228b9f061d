// Start, Stop, admission and refusal of clients.
#ifndef _WIN32
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <string>
#include <vector>

#include "relay_fixture.h"

namespace testing_support {
namespace {

constexpr char kRefusal[] = "too many connection\r\n";

class RelayListener : public RelayFixture {
  protected:
    // A client that is accepted and then closed without a byte.
    void ExpectClosedWithoutData() {
        TestSocket client = Connect();
        ASSERT_TRUE(client.valid());
        bool sawEnd = false;
        EXPECT_EQ(client.ReadToEnd(&sawEnd), "");
        EXPECT_TRUE(sawEnd);
    }

    // A client that receives the refusal, as the wire carries it, then the end.
    void ExpectRefused(const std::string& refusal = kRefusal) {
        TestSocket client = Connect();
        ASSERT_TRUE(client.valid());
        bool sawEnd = false;
        EXPECT_EQ(client.ReadToEnd(&sawEnd), refusal);
        EXPECT_TRUE(sawEnd);
    }
};

VORLANE_FOR_BOTH_ENGINES(RelayListener);

TEST_P(RelayListener, StartOnPortZeroShowsTheBoundPortAndSwapsTheCommands) {
    Start(RequestTo(echo.Port()));  // local port 0: the system picks one
    EXPECT_EQ(display.StatusTexts().back(),
              "Listening on port " + std::to_string(engine->ListeningPort()) + "...");
    // Listening: the window turns Start off and Stop on.
    EXPECT_EQ(display.RunStates(), std::vector<RunState>{RunState::Listening});
    EXPECT_TRUE(display.Messages().empty());
    TestSocket client = Connect();
    ExpectEcho(client, "on the bound port");
}

TEST_P(RelayListener, RefusedStartShowsWhyAndOpensNothing) {
    const char* const noTarget = "Please input target IP or domain first!";
    const char* const badTargetPort = "Please input a target port from 1 to 65535!";
    const char* const badLocalPort = "Please input a local port from 0 to 65535!";
    struct Case {
        const char* target;
        int targetPort;
        int localPort;
        const char* message;
    };
    const Case cases[] = {
        {" \t \r\n", 1988, 0, noTarget},
        {"", 70000, 70000, noTarget},  // the target text is looked at first
        {"127.0.0.1", 0, 0, badTargetPort},
        {"127.0.0.1", 65536 + 1988, 0, badTargetPort},  // would reach 1988
        {"127.0.0.1", -1, 0, badTargetPort},
        {"127.0.0.1", 1988, 65536, badLocalPort},  // would listen on a port the system picks
        {"127.0.0.1", 1988, 70000, badLocalPort},
        {"127.0.0.1", 1988, -1, badLocalPort},
        {"127.0.0.1", 0, 70000, badTargetPort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " " + std::to_string(c.targetPort) + " " +
                     std::to_string(c.localPort));
        RecordingDisplay refusedDisplay;
        RelayEngine refused(refusedDisplay);
        StartRequest request = RequestTo(c.targetPort);
        request.targetText = c.target;
        request.localPort = c.localPort;
        EXPECT_FALSE(refused.StartListening(request));
        EXPECT_EQ(refusedDisplay.Messages(), std::vector<std::string>{c.message});
        EXPECT_FALSE(refused.IsListening());
        EXPECT_TRUE(refusedDisplay.RunStates().empty());
        EXPECT_TRUE(refusedDisplay.StatusTexts().empty());
        refused.StopListening();  // so a wrongly started run ends before the engine does
        ASSERT_TRUE(refused.WaitForWorkers(kPatienceMs));
    }
}

TEST_P(RelayListener, PortInUseIsReportedAndStartStaysAvailable) {
    LoopbackServer other([](TestSocket&, int) {});
    StartRequest request = RequestTo(echo.Port());
    request.localPort = other.Port();
    EXPECT_FALSE(engine->StartListening(request));
    EXPECT_EQ(display.Messages(),
              std::vector<std::string>{"Listen failed, Maybe the local port you specified is "
                                       "taken, please try another port!"});
    EXPECT_FALSE(engine->IsListening());
    EXPECT_TRUE(display.RunStates().empty());
}

// Listeners that share a port must not share it with another relay either.
TEST_P(RelayListener, PortOfAListeningRelayIsTakenForASecondOne) {
    Start(RequestTo(echo.Port()));
    StartRequest second = RequestTo(echo.Port());
    second.localPort = engine->ListeningPort();
    farEngine = MakeEngine(GetParam(), farDisplay);
    EXPECT_FALSE(farEngine->StartListening(second));
    EXPECT_EQ(farDisplay.Messages(),
              std::vector<std::string>{"Listen failed, Maybe the local port you specified is "
                                       "taken, please try another port!"});
    for (int i = 0; i < 8; ++i) {  // every client still reaches the first relay
        TestSocket client = Connect();
        ExpectEcho(client, "first");
    }
    EXPECT_EQ(echo.AcceptedCount(), 8);
}

TEST_P(RelayListener, RefusalTextGoesOutMappedOnlyTowardsAFarRelay) {
    struct Case {
        EncodeMode mode;
        std::string onTheWire;
    };
    // In Server mode the client is a Client-mode relay, which maps the text back.
    const Case cases[] = {{EncodeMode::None, kRefusal},
                          {EncodeMode::Client, kRefusal},
                          {EncodeMode::Server, Mapped(kRefusal)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(NameOf(c.mode, kEncodeModeNames));
        StartRequest request = RequestTo(echo.Port());
        request.connectionLimit = 0;
        request.encode = c.mode;
        Start(request);
        ExpectRefused(c.onTheWire);
        engine->StopListening();
        ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));
    }
    EXPECT_EQ(echo.AcceptedCount(), 0);
    EXPECT_TRUE(display.Messages().empty());
}

TEST_P(RelayListener, FarRelayOverItsLimitRefusesInPlainTextThroughTheChain) {
    // client -> near (Client mode) -> far (Server mode, limit 0)
    StartRequest farRequest = RequestTo(echo.Port());
    farRequest.encode = EncodeMode::Server;
    farRequest.connectionLimit = 0;
    StartFarRelay(farRequest);
    StartRequest nearRequest = RequestTo(farEngine->ListeningPort());
    nearRequest.encode = EncodeMode::Client;
    Start(nearRequest);
    ExpectRefused(kRefusal);
    EXPECT_TRUE(CountReaches(0));
    EXPECT_EQ(echo.AcceptedCount(), 0);
}

TEST_P(RelayListener, LimitCountsPumpThreadsSoTenServesFive) {
    StartRequest request = RequestTo(echo.Port());
    request.connectionLimit = 10;
    Start(request);
    std::vector<TestSocket> clients;
    for (int i = 1; i <= 5; ++i) {
        clients.push_back(Connect());
        ExpectEcho(clients.back(), "client " + std::to_string(i));
        ASSERT_TRUE(CountReaches(2 * i)) << "client " << i;
    }
    ExpectRefused();
    EXPECT_TRUE(WaitUntil([&] { return display.LastCount() == 10; }));
    clients.clear();
    EXPECT_TRUE(CountReaches(0));
}

TEST_P(RelayListener, BurstOfQueuedClientsIsServedInFull) {
    // Clients queue up faster than they are accepted, so one wake-up takes several.
    Start(RequestTo(echo.Port()));
    std::vector<TestSocket> clients;
    for (int i = 0; i < 12; ++i) {
        clients.push_back(Connect());
        ASSERT_TRUE(clients.back().Send("burst client " + std::to_string(i)));
    }
    for (int i = 0; i < 12; ++i) {
        const std::string text = "burst client " + std::to_string(i);
        EXPECT_EQ(clients[i].Read(text.size()), text);
    }
    clients.clear();
    EXPECT_TRUE(CountReaches(0));
    EXPECT_TRUE(display.Messages().empty());
}

TEST_P(RelayListener, StopEndsTheRunButNotItsConnections) {
    Start(RequestTo(echo.Port()));
    TestSocket client = Connect();
    ExpectEcho(client, "before stop");
    const int port = engine->ListeningPort();

    engine->StopListening();
    ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));
    EXPECT_EQ(display.StatusTexts().back(), "listening stopped!");
    EXPECT_EQ(display.LastRunState(), RunState::Idle);  // Start on, Stop off
    EXPECT_TRUE(display.Messages().empty());
    EXPECT_FALSE(testing_support::Connect(port).valid());

    ExpectEcho(client, "after stop");
    EXPECT_EQ(engine->ConnectionCount(), 2);
    // A chunk is counted just after it is sent; let the last one land.
    ASSERT_TRUE(WaitUntil([&] { return engine->BytesUp() == 21 && engine->BytesDown() == 21; }));

    // A new run starts from zero totals while the old connection still counts.
    Start(RequestTo(echo.Port()));
    EXPECT_EQ(engine->BytesUp(), 0);
    EXPECT_EQ(engine->ConnectionCount(), 2);
    ExpectEcho(client, "next run");
    EXPECT_TRUE(WaitUntil([&] { return engine->BytesDown() == 8; }));
}

TEST_P(RelayListener, UnresolvedOrRefusingTargetClosesTheClientWithoutData) {
    struct Case {
        const char* target;
        int port;
    };
    const Case cases[] = {{"0.0.0.0", echo.Port()}, {"127.0.0.1", FreePort()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        StartRequest request = RequestTo(c.port);
        request.targetText = c.target;
        Start(request);
        ExpectClosedWithoutData();
        EXPECT_TRUE(CountReaches(0));
        engine->StopListening();
        ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));
    }
    EXPECT_EQ(echo.AcceptedCount(), 0);
}

TEST_P(RelayListener, ClientOutsideTheAllowedRangesIsClosedSilently) {
    StartRequest request = RequestTo(echo.Port());
    request.allowFrom = {*net::IpRange::Parse("10.0.0.0/8")};
    Start(request);
    ExpectClosedWithoutData();
    EXPECT_EQ(engine->DeniedCount(), 1);
    EXPECT_EQ(echo.AcceptedCount(), 0);
    engine->StopListening();
    ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));

    request.allowFrom.push_back(*net::IpRange::Parse("127.0.0.0/8"));
    Start(request);
    TestSocket client = Connect();
    ExpectEcho(client, "admitted");
    EXPECT_EQ(engine->DeniedCount(), 1);
}

#ifndef _WIN32
// The descriptor of this process that listens on the port, or -1.
int ListenerOnPort(int port) {
    for (int fd = 0; fd < 4096; ++fd) {
        int listening = 0;
        socklen_t length = sizeof listening;
        sockaddr_in6 address{};  // an IPv4 listener's port sits at the same place
        socklen_t addressLength = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressLength) == 0 &&
            (address.sin6_family == AF_INET || address.sin6_family == AF_INET6) &&
            ntohs(address.sin6_port) == port) {
            return fd;
        }
    }
    return -1;
}

TEST_P(RelayListener, ListenerFailingUnderTheRunLeavesTheCommandsIdle) {
    Start(RequestTo(echo.Port()));
    const int listener = ListenerOnPort(engine->ListeningPort());
    ASSERT_GE(listener, 0);
    // The socket stops listening while the engine still holds it: its accept
    // then fails as on a closed listener, with no Stop pressed.
    ASSERT_EQ(shutdown(listener, SHUT_RDWR), 0);

    ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));
    EXPECT_EQ(display.StatusTexts().back(), "listening stopped!");
    EXPECT_EQ(display.LastRunState(), RunState::Idle);  // Start on, Stop off
    EXPECT_TRUE(display.Messages().empty());

    Start(RequestTo(echo.Port()));
    TestSocket client = Connect();
    ExpectEcho(client, "next run");
}

TEST_P(RelayListener, AcceptErrorIsShownAndAcceptingGoesOn) {
    Start(RequestTo(echo.Port()));
    TestSocket client(net::CreateTcpSocket());
    ASSERT_TRUE(client.valid());

    // With no descriptor left, the relay's accept fails with EMFILE.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit exhausted = saved;
    exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    const bool connected = net::Connect(client.fd(), net::LoopbackAddr(),
                                        static_cast<std::uint16_t>(engine->ListeningPort()));
    const bool shown = WaitUntil([&] { return !display.Messages().empty(); });
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    ASSERT_TRUE(connected);
    ASSERT_TRUE(shown);
    EXPECT_EQ(display.Messages().front(),
              "accept error\xEF\xBC\x8C"
              "errorid=" +
                  std::to_string(EMFILE));
    ExpectEcho(client, "accepted after the error");
    EXPECT_TRUE(engine->IsListening());
}
#endif

}  // namespace
}  // namespace testing_support
