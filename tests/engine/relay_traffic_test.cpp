// Bytes through the relay: integrity, direction, chunking, half-close, modes.
#include <random>
#include <thread>

#include "random_bytes.h"
#include "relay_fixture.h"

namespace testing_support {
namespace {

class RelayTraffic : public RelayFixture {};

VORLANE_FOR_BOTH_ENGINES(RelayTraffic);

TEST_P(RelayTraffic, MegabyteComesBackIntactAndIsCountedAtEveryChunkSize) {
    const std::string payload = RandomBytes(1 << 20, 7);
    for (const std::size_t chunkSize : {std::size_t{2048}, std::size_t{65536}}) {
        SCOPED_TRACE(chunkSize);
        StartRequest request = RequestTo(echo.Port());
        request.chunkSize = chunkSize;
        Start(request);
        {
            TestSocket client = Connect();
            ASSERT_TRUE(client.valid());
            bool sawEnd = false;
            const std::string back = client.SendAllAndReadBack(payload, &sawEnd, 20000);
            EXPECT_TRUE(sawEnd);
            ASSERT_EQ(back.size(), payload.size());
            EXPECT_TRUE(back == payload);
        }
        EXPECT_TRUE(CountReaches(0));
        EXPECT_TRUE(WaitUntil([&] { return display.LastCount() == 0; }));
        // Each Start sets the totals to 0.
        EXPECT_EQ(engine->BytesUp(), static_cast<std::int64_t>(payload.size()));
        EXPECT_EQ(engine->BytesDown(), static_cast<std::int64_t>(payload.size()));
        engine->StopListening();
        ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));
    }
}

TEST_P(RelayTraffic, GreetingOfATargetThatSpeaksFirstReachesTheClient) {
    LoopbackServer greeter(GreetingHandler("220 ready\r\n"));
    Start(RequestTo(greeter.Port()));
    TestSocket client = Connect();
    EXPECT_EQ(client.Read(11), "220 ready\r\n");
}

TEST_P(RelayTraffic, EveryChunkIsCountedAndShownWithItsNewTotal) {
    Start(RequestTo(echo.Port()));
    TestSocket client = Connect();
    ExpectEcho(client, std::string(5000, 'x'));
    ASSERT_TRUE(
        WaitUntil([&] { return engine->BytesUp() == 5000 && engine->BytesDown() == 5000; }));
    EXPECT_EQ(engine->BytesUp(), 5000);
    for (const auto direction :
         {TrafficDirection::ClientToServer, TrafficDirection::ServerToClient}) {
        const std::vector<std::int64_t> totals = display.Totals(direction);
        // At most 2048 bytes per chunk, each shown as it is added.
        ASSERT_GE(totals.size(), 3u);
        EXPECT_EQ(totals.back(), 5000);
        for (std::size_t i = 1; i < totals.size(); ++i) {
            EXPECT_GT(totals[i], totals[i - 1]);
            EXPECT_LE(totals[i] - totals[i - 1], 2048);
        }
    }
}

TEST_P(RelayTraffic, HiddenDisplayCountsWithoutShowingAndTickMovesSamples) {
    Start(RequestTo(echo.Port()));
    engine->SetHidden(true);
    TestSocket client = Connect();
    ExpectEcho(client, std::string(1500, 'y'));
    ASSERT_TRUE(
        WaitUntil([&] { return engine->BytesUp() == 1500 && engine->BytesDown() == 1500; }));
    EXPECT_TRUE(display.Totals(TrafficDirection::ClientToServer).empty());
    EXPECT_TRUE(display.Totals(TrafficDirection::ServerToClient).empty());

    const SpeedSample hidden = engine->TickSpeeds();
    EXPECT_FALSE(hidden.show);
    EXPECT_EQ(hidden.up, 1500);
    EXPECT_EQ(hidden.down, 1500);
    engine->SetHidden(false);
    const SpeedSample shown = engine->TickSpeeds();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.up, 0);  // only the growth of the last tick

    engine->RefreshTrafficDisplay();
    EXPECT_EQ(display.Totals(TrafficDirection::ClientToServer).back(), 1500);
    EXPECT_EQ(display.Totals(TrafficDirection::ServerToClient).back(), 1500);
}

TEST_P(RelayTraffic, HalfClosedClientStillGetsTheWholeAnswer) {
    LoopbackServer answerer(AnswerAfterEndHandler());
    Start(RequestTo(answerer.Port()));
    const std::string request = RandomBytes(100000, 11);
    TestSocket client = Connect();
    ASSERT_TRUE(client.Send(request));
    client.ShutdownSend();
    bool sawEnd = false;
    const std::string answer = client.ReadToEnd(&sawEnd);
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(answer.size(), request.size());
    EXPECT_TRUE(answer == request);
}

TEST_P(RelayTraffic, ClientModeIntoServerModeCarriesMappedBytesBetweenThem) {
    // client -> near (Client mode) -> far (Server mode) -> echo
    StartRequest farRequest = RequestTo(echo.Port());
    farRequest.encode = EncodeMode::Server;
    StartFarRelay(farRequest);
    StartRequest nearRequest = RequestTo(farEngine->ListeningPort());
    nearRequest.encode = EncodeMode::Client;
    Start(nearRequest);

    const std::string text = "GET / HTTP/1.0\r\n\r\n";
    {
        TestSocket client = Connect();
        ExpectEcho(client, text);
        EXPECT_EQ(echo.Received(), text);  // plain at the far end
    }
    EXPECT_TRUE(CountReaches(0));
}

// A later Start with the other mode (a reload, or the window's Stop and Start
// with the other box ticked) leaves a live connection's map as it was:
// switched mid-stream, its bytes would arrive garbled.
TEST_P(RelayTraffic, LiveConnectionKeepsTheModeOfTheRunThatAdmittedIt) {
    Start(RequestTo(echo.Port()));
    TestSocket client = Connect();
    ExpectEcho(client, "before");
    engine->StopListening();
    ASSERT_TRUE(WaitUntil([&] { return !engine->IsListening(); }));
    StartRequest mapping = RequestTo(echo.Port());
    mapping.encode = EncodeMode::Server;
    Start(mapping);

    ExpectEcho(client, " still");
    TestSocket later = Connect();
    ExpectEcho(later, "after");
    EXPECT_EQ(echo.Received(), "before still" + Mapped("after"));
}

TEST_P(RelayTraffic, OneMappingRelayHandsItsTargetMappedBytesInEitherMode) {
    for (const bool clientMode : {true, false}) {
        SCOPED_TRACE(clientMode ? "Client mode" : "Server mode");
        EchoServer target;
        StartRequest request = RequestTo(target.Port());
        request.encode = clientMode ? EncodeMode::Client : EncodeMode::Server;
        RecordingDisplay linkDisplay;
        RelayEngine relay(linkDisplay);
        ASSERT_TRUE(relay.StartListening(request));
        {
            TestSocket client = testing_support::Connect(relay.ListeningPort());
            const std::string text = RandomBytes(3000, 3);
            // The echo sends the mapped bytes back and the relay maps them again.
            ExpectEcho(client, text);
            EXPECT_TRUE(target.Received() == Mapped(text));
        }
        relay.StopListening();
        target.Stop();
        ASSERT_TRUE(relay.WaitForWorkers(kPatienceMs));
    }
}

}  // namespace
}  // namespace testing_support
