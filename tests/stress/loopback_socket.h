// Plain POSIX socket helpers for the reliability tests. Everything here talks
// to loopback only: 127.0.0.1 unless an address of 127.0.0.0/8 or ::1 is named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace loopback {

// A socket descriptor closed on destruction.
class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : fd_(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release();
    void Close();

  private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1 and a port the system chose.
Socket Listen(int backlog, std::uint16_t* port);
// A listening socket on a loopback address ("127.0.0.2", "::1") and port, or
// a port the system chooses for 0; invalid on failure.
Socket ListenAt(const std::string& address, std::uint16_t port, int backlog);
// The local port of a socket, or 0.
std::uint16_t BoundPort(int fd);
// A port that was free a moment ago (bound and released again).
std::uint16_t FreePort();
// Blocking connect to 127.0.0.1:port; invalid on failure.
Socket Connect(std::uint16_t port);
// Blocking connect to a loopback address; invalid on failure.
Socket ConnectTo(const std::string& address, std::uint16_t port);
// Blocking connect to 127.0.0.1:port from another loopback address, so the
// peer sees a client of that address; invalid on failure.
Socket ConnectFrom(const std::string& source, std::uint16_t port);
// Starts a non-blocking connect; the socket stays non-blocking.
Socket ConnectNonBlocking(std::uint16_t port);

void SetNonBlocking(int fd, bool on);
void SetReceiveTimeout(int fd, int milliseconds);
// Closing after this sends a reset instead of an orderly end.
void SetAbortiveClose(int fd);

bool SendAll(int fd, const void* data, std::size_t length);
// Reads until the peer's end of stream, an error or the receive timeout,
// at most limit bytes. *clean is true when the stream ended in order.
std::string ReceiveUntilEnd(int fd, std::size_t limit, bool* clean = nullptr);
// Reads exactly length bytes; false on end, error or time-out first.
bool ReceiveExactly(int fd, void* data, std::size_t length);

// True while some socket of this machine listens on 127.0.0.1 or any
// address at this port (read from /proc/net/tcp, so nothing connects).
bool IsListening(std::uint16_t port);

}  // namespace loopback
