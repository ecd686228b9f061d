// The engine against targets and clients that misbehave, over real loopback
// sockets: resets in the middle of a stream, a client that goes away while
// the target streams, a target that never accepts, a target that hangs up
// after its greeting, and Stop and Start in a loop while connections run.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine_kind.h"
#include "hanging_target.h"
#include "loopback_server.h"
#include "recording_display.h"
#include "test_socket.h"
#include "traffic_check.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

// Streams data at the relay while reading whatever comes back, until the
// relay ends the connection. True when it did so within the time-out.
bool RelayEndsStream(int fd, int timeoutMs) {
    SetReceiveTimeout(fd, timeoutMs);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        std::vector<char> chunk(4096, 'x');
        for (int i = 0; i < 16384 && !done; ++i) {  // at most 64 MiB
            if (!SendAll(fd, chunk.data(), chunk.size())) {
                return;
            }
        }
    });
    char buffer[16384];
    ssize_t got = 0;
    int error = 0;
    do {
        got = ::recv(fd, buffer, sizeof buffer, 0);
        error = errno;
    } while (got > 0);
    done = true;
    ::shutdown(fd, SHUT_RDWR);
    sender.join();
    return got == 0 || (error != EAGAIN && error != EWOULDBLOCK);
}

// A target that sends until its connection fails, bounded in time.
void StreamForever(TestSocket& connection) {
    const std::vector<char> chunk(16384, 's');
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline &&
           SendAll(connection.fd(), chunk.data(), chunk.size())) {
    }
}

class EngineFaultTest : public testing::TestWithParam<EngineKind> {
  protected:
    void TearDown() override {
        engine_->StopListening();
        EXPECT_TRUE(WaitUntil([&] { return engine_->ConnectionCount() == 0; }, 30s))
            << engine_->ConnectionCount() << " pump threads left";
        EXPECT_TRUE(engine_->WaitForWorkers(30000));
        EXPECT_EQ(display_.Messages(), std::vector<std::string>());
    }

    bool Start(std::uint16_t targetPort, int localPort = 0) {
        StartRequest request;
        request.targetText = "127.0.0.1";
        request.targetPort = targetPort;
        request.connectionLimit = 1000;
        request.localPort = localPort;
        request.backlog = SOMAXCONN;
        return engine_->StartListening(request);
    }
    std::uint16_t port() const { return static_cast<std::uint16_t>(engine_->ListeningPort()); }
    void WaitForCount(int count) {
        EXPECT_TRUE(WaitUntil([&] { return engine_->ConnectionCount() == count; }))
            << "count " << engine_->ConnectionCount() << ", expected " << count;
    }

    RecordingDisplay display_;
    std::unique_ptr<RelayControl> engine_ = MakeEngine(GetParam(), display_);
};

VORLANE_FOR_BOTH_ENGINES(EngineFaultTest);

TEST_P(EngineFaultTest, TargetResetMidStreamEndsOnlyThatConnection) {
    LoopbackServer target([](TestSocket& connection, int index) {
        if (index > 0) {
            LoopbackServer::Echo(connection);
            return;
        }
        char buffer[65536];
        ReceiveExactly(connection.fd(), buffer, sizeof buffer);
        SetAbortiveClose(connection.fd());
    });
    ASSERT_TRUE(Start(target.Port()));
    TestSocket victim = Connect(port());
    EXPECT_TRUE(RelayEndsStream(victim.fd(), 10000));
    WaitForCount(0);

    TestSocket next = Connect(port());
    EXPECT_TRUE(EchoRoundTrip(next.fd(), 1 << 20, 1));
}

TEST_P(EngineFaultTest, ClientGoneMidStreamEndsItsTargetConnection) {
    struct Case {
        const char* name;
        void (*target)(TestSocket& connection);  // the first connection's; later ones echo
        std::function<void(int fd)> leave;       // the client's last acts before its socket closes
    };
    const Case cases[] = {
        {"reset while sending", LoopbackServer::Echo,
         [](int fd) {
             ASSERT_TRUE(EchoRoundTrip(fd, 256u << 10, 2));
             std::vector<char> inFlight(256u << 10, 'y');
             SetNonBlocking(fd, true);
             ::send(fd, inFlight.data(), inFlight.size(), MSG_NOSIGNAL);
             SetAbortiveClose(fd);
         }},
        // The client's end only half-closes the target connection; the relay
        // learns that the client is gone when a send to it fails.
        {"half-closed, then gone while the target streams", StreamForever,
         [this](int fd) {
             char streamed[4096];
             SetReceiveTimeout(fd, 10000);
             ASSERT_TRUE(ReceiveExactly(fd, streamed, sizeof streamed));
             ::shutdown(fd, SHUT_WR);
             WaitForCount(1);  // the client-side pump has passed the end on
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer target([&](TestSocket& connection, int index) {
            (index == 0 ? c.target : LoopbackServer::Echo)(connection);
        });
        ASSERT_TRUE(Start(target.Port()));
        {
            TestSocket client = Connect(port());
            c.leave(client.fd());
        }
        EXPECT_TRUE(WaitUntil([&] { return target.FinishedCount() == 1; }))
            << "the target connection outlived its client";
        WaitForCount(0);

        TestSocket next = Connect(port());
        EXPECT_TRUE(EchoRoundTrip(next.fd(), 1 << 20, 3));
        next.Close();
        WaitForCount(0);
        engine_->StopListening();
        ASSERT_TRUE(WaitUntil([&] { return !engine_->IsListening(); }));
    }
}

TEST_P(EngineFaultTest, TargetClosingRightAfterItsGreetingStillDeliversIt) {
    const std::string greeting = "220 ready\r\n";
    LoopbackServer target([&](TestSocket& connection, int) {
        SendAll(connection.fd(), greeting.data(), greeting.size());
    });
    ASSERT_TRUE(Start(target.Port()));
    // The greeting and the end arrive together; repeat to meet both orders.
    for (int i = 0; i < 20; ++i) {
        TestSocket client = Connect(port());
        SetReceiveTimeout(client.fd(), 10000);
        bool clean = false;
        EXPECT_EQ(ReceiveUntilEnd(client.fd(), 1024, &clean), greeting) << "client " << i;
        EXPECT_TRUE(clean) << "client " << i;
    }
    WaitForCount(0);
}

TEST_P(EngineFaultTest, ConnectThatHangsHoldsUpNoOtherClient) {
    LoopbackServer echo([](TestSocket& connection, int) { LoopbackServer::Echo(connection); });
    {
        HangingTarget hanging;
        ASSERT_TRUE(Start(hanging.port()));
        const int localPort = port();
        TestSocket stuck = Connect(port());
        // The event engine takes both of a client's shares when it admits it,
        // the threaded one a share per pump thread as each starts.
        const int connecting = GetParam() == EngineKind::Events ? 2 : 1;
        WaitForCount(connecting);
        std::this_thread::sleep_for(200ms);
        ASSERT_EQ(engine_->ConnectionCount(), connecting)
            << "the connect to the full target did not hang";

        // A new run towards a live target serves its clients meanwhile.
        engine_->StopListening();
        ASSERT_TRUE(WaitUntil([&] { return !engine_->IsListening(); }));
        ASSERT_TRUE(Start(echo.Port(), localPort));
        TestSocket served = Connect(port());
        EXPECT_TRUE(EchoRoundTrip(served.fd(), 1 << 20, 4));
        served.Close();
        WaitForCount(connecting);
    }
    // With the full target gone its next SYN is refused and the stuck client
    // is closed, within the system's SYN retry interval.
    EXPECT_TRUE(WaitUntil([&] { return engine_->ConnectionCount() == 0; }, 30s));
}

TEST_P(EngineFaultTest, StopAndStartHundredTimesWhileConnectionsRelay) {
    LoopbackServer target([](TestSocket& connection, int) { LoopbackServer::Echo(connection); });
    ASSERT_TRUE(Start(target.Port()));
    const int localPort = port();

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> roundTrips{0};
    std::vector<std::thread> clients;
    for (std::uint32_t id = 0; id < 4; ++id) {
        TestSocket socket = Connect(port());
        ASSERT_TRUE(socket.valid());
        clients.emplace_back([&, id, socket = std::move(socket)]() mutable {
            for (int i = 0; i < 100000 && !stop; ++i) {
                if (!EchoRoundTrip(socket.fd(), 16u << 10, id * 100000 + i)) {
                    ++failures;
                    return;
                }
                ++roundTrips;
            }
        });
    }
    // Clients still in the accept queue when the listener closes are reset.
    WaitForCount(8);
    for (int run = 0; run < 100; ++run) {
        engine_->StopListening();
        ASSERT_TRUE(WaitUntil([&] { return !engine_->IsListening(); })) << "run " << run;
        ASSERT_TRUE(Start(target.Port(), localPort)) << "run " << run;
        if (run % 10 == 0) {
            TestSocket fresh = Connect(port());
            EXPECT_TRUE(EchoRoundTrip(fresh.fd(), 4096, 900000 + run)) << "run " << run;
        }
    }
    stop = true;
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(roundTrips, 0);
    WaitForCount(0);
}

}  // namespace
