// Drives many connections through a relay at once against its own loopback
// target: each connection announces its number, then both ends send a
// reproducible stream, check every byte that arrives, end their sending side
// and wait for the other's end. One thread, non-blocking sockets, bounded by
// a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "test_socket.h"

struct LoadPlan {
    int connections = 1000;
    std::size_t bytesEach = std::size_t{64} << 10;  // in each direction, per connection
    int openWindow = 64;                            // connections being set up at once
    std::chrono::seconds timeout{120};              // per phase
};

class LoadRun {
  public:
    explicit LoadRun(const LoadPlan& plan) : plan_(plan) {}

    // The target every connection must reach; false when it cannot listen.
    bool Listen();
    std::uint16_t targetPort() const { return targetPort_; }

    // Opens every connection through the relay and returns once the target
    // has received the first bytes of each, so all are relaying and idle.
    bool OpenAll(std::uint16_t relayPort);
    // Moves the data both ways on all connections at once; every socket is
    // closed at the end.
    bool TransferAndClose();

    const std::string& error() const { return error_; }
    std::uint64_t bytesChecked() const { return bytesChecked_; }

  private:
    struct Endpoint {
        testing_support::TestSocket socket;
        std::uint32_t id = 0;
        bool connecting = false;  // client: connect still in progress
        std::uint8_t header[4] = {};
        std::size_t headerHave = 0;  // target: bytes of the number read so far
        ByteStream outgoing;
        ByteStream expected;
        std::vector<std::uint8_t> pending;  // generated but not yet sent
        std::size_t pendingOffset = 0;
        std::size_t sent = 0;
        std::size_t received = 0;
        bool shutWrite = false;
        bool ended = false;
    };

    bool Fail(const std::string& message);
    bool Expired(std::chrono::steady_clock::time_point deadline, const std::string& phase);
    bool AcceptTargets();
    bool FinishConnect(Endpoint& client);
    bool ReadHeader(Endpoint& target, int* established);
    bool SendSome(Endpoint& endpoint);
    bool ReceiveSome(Endpoint& endpoint, const char* side);
    bool Done(const Endpoint& endpoint) const { return endpoint.shutWrite && endpoint.ended; }

    LoadPlan plan_;
    testing_support::TestSocket listener_;
    std::uint16_t targetPort_ = 0;
    std::vector<Endpoint> clients_;
    std::vector<Endpoint> targets_;
    std::uint64_t bytesChecked_ = 0;
    std::uint32_t chunkSeed_ = 12345;
    std::string error_;
};
