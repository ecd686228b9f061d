// Blocking loopback socket helpers for the benchmark client and its target.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace bench {

// Owns one socket descriptor; closes it once.
class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { Close(); }

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release();
    void Close();

  private:
    int fd_ = -1;
};

// Connects to 127.0.0.1:port with TCP_NODELAY and send/receive time-outs, so
// a stuck relay fails a measurement instead of hanging the run. Throws on failure.
Socket ConnectLoopback(uint16_t port, std::chrono::seconds io_timeout);

// Tries one connect; true when something accepts on the port.
bool Accepts(uint16_t port);

// Polls until the port accepts or the budget is spent.
bool WaitUntilAccepting(uint16_t port, std::chrono::milliseconds budget);

// A port that was free on 127.0.0.1 a moment ago.
uint16_t PickFreePort();

// Both throw on error, time-out or end of stream.
void SendAll(int fd, const void* data, size_t length);
void ReceiveExactly(int fd, void* data, size_t length);

// One receive; returns the count (0 at end of stream), throws on error or time-out.
size_t ReceiveSome(int fd, void* data, size_t capacity);

}  // namespace bench
