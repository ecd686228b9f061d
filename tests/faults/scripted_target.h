// A loopback target whose every accepted connection is handled by a test's own
// function on a thread of its own. The destructor shuts every live
// connection down and joins every thread, so a test ends with nothing left.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "loopback_socket.h"

class ScriptedTarget {
  public:
    // The handler gets the connection and its number (0 for the first).
    using Handler = std::function<void(loopback::Socket& connection, int index)>;

    // Listens on 127.0.0.1 and a port the system chose.
    explicit ScriptedTarget(Handler handler);
    // Accepts on a listening socket made by the test (another address, or
    // one whose queue it filled first); valid() is false when it is none.
    ScriptedTarget(Handler handler, loopback::Socket listener);
    ~ScriptedTarget();
    ScriptedTarget(const ScriptedTarget&) = delete;
    ScriptedTarget& operator=(const ScriptedTarget&) = delete;

    std::uint16_t port() const { return port_; }
    bool valid() const { return listener_.valid(); }
    int accepted() const { return accepted_.load(); }
    int finished() const { return finished_.load(); }

    // Handlers: copy everything back until the peer ends, then end too.
    static void Echo(loopback::Socket& connection);

  private:
    void AcceptLoop();
    void Serve(int fd, int index);

    Handler handler_;
    loopback::Socket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
    std::mutex mutex_;
    std::set<int> live_;  // descriptors of running handlers, shut down on destruction
    std::vector<std::thread> handlers_;
    std::thread acceptor_;
};
