// A relay engine over real loopback sockets with a recording display, and
// the teardown that checks no thread or socket is left behind.
#pragma once

#ifndef _WIN32
#include <dirent.h>
#endif

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine_kind.h"
#include "loopback_server.h"
#include "platform/net.h"
#include "recording_display.h"
#include "relay/byte_map.h"
#include "test_socket.h"
#include "wait.h"

namespace testing_support {

// Open descriptors of this process, or -1 where that cannot be counted.
inline int OpenDescriptorCount() {
#ifdef _WIN32
    return -1;
#else
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return -1;
    }
    int count = 0;
    while (readdir(directory) != nullptr) {
        ++count;
    }
    closedir(directory);
    return count;
#endif
}

// Bytes as the byte map puts them on the wire.
inline std::string Mapped(std::string bytes) {
    EncodePacket(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

class RelayFixture : public testing::TestWithParam<EngineKind> {
  protected:
    void SetUp() override { ASSERT_TRUE(net::StartSockets()); }

    void TearDown() override {
        engine->StopListening();
        if (farEngine) {
            farEngine->StopListening();
        }
        echo.Stop();
        if (!Finish(engine) || !Finish(farEngine)) {
            return;
        }
        EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore) << "a socket was left open";
    }

    // Drops an engine once its threads have ended. One whose threads still
    // run would crash every later test: it is leaked instead, and the test fails.
    static bool Finish(std::unique_ptr<RelayControl>& relay) {
        if (relay && !relay->WaitForWorkers(kPatienceMs)) {
            ADD_FAILURE() << "relay threads still running";
            static_cast<void>(relay.release());
            return false;
        }
        relay.reset();
        return true;
    }

    // A second relay in front of which the first can be chained; it is
    // stopped and checked at the end like the first.
    void StartFarRelay(const StartRequest& request) {
        farEngine = MakeEngine(GetParam(), farDisplay);
        ASSERT_TRUE(farEngine->StartListening(request));
    }

    static StartRequest RequestTo(int targetPort) {
        StartRequest request;
        request.targetText = "127.0.0.1";
        request.targetPort = targetPort;
        request.connectionLimit = 100;
        request.localPort = 0;
        request.backlog = 16;
        return request;
    }

    // Starts the engine toward the target and fails the test if it does not listen.
    void Start(const StartRequest& request) {
        ASSERT_TRUE(engine->StartListening(request));
        ASSERT_TRUE(engine->IsListening());
        ASSERT_NE(engine->ListeningPort(), 0);
    }

    TestSocket Connect() { return testing_support::Connect(engine->ListeningPort()); }

    // Sends text and expects it echoed back whole through the relay.
    static void ExpectEcho(TestSocket& client, const std::string& text) {
        ASSERT_TRUE(client.Send(text));
        EXPECT_EQ(client.Read(text.size()), text);
    }

    bool CountReaches(int count) {
        return WaitUntil([&] { return engine->ConnectionCount() == count; });
    }

    const int descriptorsBefore =
        OpenDescriptorCount();  // first: counted before any member opens one
    RecordingDisplay display;
    EchoServer echo;
    std::unique_ptr<RelayControl> engine = MakeEngine(GetParam(), display);
    RecordingDisplay farDisplay;
    std::unique_ptr<RelayControl> farEngine;
};

}  // namespace testing_support
