// The relays' target: sink, source and echo on one loopback port (see wire.h),
// served by one epoll thread so that it costs the machine as little as possible.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "socket_util.h"

namespace bench {

class TargetServer {
  public:
    // Listening and serving when it returns; port 0: any free one.
    explicit TargetServer(uint16_t port = 0);
    ~TargetServer();
    TargetServer(const TargetServer&) = delete;
    TargetServer& operator=(const TargetServer&) = delete;

    uint16_t port() const { return port_; }

  private:
    struct Session;

    void Serve();
    void AcceptAll();
    void OnReady(Session& session, uint32_t events);
    bool ReadHeader(Session& session);
    bool Sink(Session& session);
    bool Source(Session& session);
    bool Echo(Session& session);
    void WatchFor(Session& session, uint32_t events);
    void Drop(int fd);

    Socket listener_;
    Socket epoll_;
    Socket wake_;  // eventfd: the destructor's stop signal
    uint16_t port_ = 0;
    std::vector<uint8_t> buffer_;
    std::unordered_map<int, std::unique_ptr<Session>> sessions_;
    std::thread thread_;
};

}  // namespace bench
