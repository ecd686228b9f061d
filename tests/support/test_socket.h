// The one socket of the tests and the benchmark, and the loopback helpers
// around it. Everything here talks to loopback only: 127.0.0.1 unless an
// address of 127.0.0.0/8 or ::1 is named. It builds for Windows too, where
// the window's tests drive the program from another process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net.h"

namespace testing_support {

// How long a read waits for bytes that should come.
constexpr int kPatienceMs = 5000;

// A socket closed on destruction.
class TestSocket {
  public:
    TestSocket() = default;
    explicit TestSocket(net::Socket socket) : m_socket(socket) {}
    ~TestSocket() { Close(); }
    TestSocket(TestSocket&& other) noexcept : m_socket(other.Release()) {}
    TestSocket& operator=(TestSocket&& other) noexcept;
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    net::Socket fd() const { return m_socket; }
    bool valid() const { return m_socket != net::kInvalidSocket; }
    net::Socket Release();
    void Close();

    bool Send(const std::string& data);
    void ShutdownSend() { net::Shutdown(m_socket, net::ShutdownHow::Send); }
    // Reads exactly count bytes; fewer when the stream ends or time runs out.
    std::string Read(std::size_t count, int timeoutMs = kPatienceMs);
    // Reads until the peer ends the stream; sawEnd tells whether it ended in
    // order (not reset, not timed out).
    std::string ReadToEnd(bool* sawEnd, int timeoutMs = kPatienceMs);
    // Sends all of data and then its end from another thread while reading
    // what comes back until the peer ends (an echo answers while we send).
    std::string SendAllAndReadBack(const std::string& data, bool* sawEnd, int timeoutMs);

  private:
    net::Socket m_socket = net::kInvalidSocket;
};

// A listening socket on 127.0.0.1 and a port the system chose.
TestSocket Listen(int backlog, std::uint16_t* port);
// A listening socket on a loopback address ("127.0.0.2", "::1") and port, or
// a port the system chooses for 0; invalid on failure.
TestSocket ListenAt(const std::string& address, std::uint16_t port, int backlog);
// The local port of a socket, or 0.
std::uint16_t BoundPort(net::Socket socket);
// A port that was free a moment ago (bound and released again), or 0.
std::uint16_t FreePort();
// Blocking connect to 127.0.0.1:port; invalid on failure.
TestSocket Connect(std::uint16_t port);
// Blocking connect to a loopback address; invalid on failure.
TestSocket ConnectTo(const std::string& address, std::uint16_t port);
// Blocking connect to 127.0.0.1:port from another loopback address, so the
// peer sees a client of that address; invalid on failure.
TestSocket ConnectFrom(const std::string& source, std::uint16_t port);
// Starts a non-blocking connect; the socket stays non-blocking.
TestSocket ConnectNonBlocking(std::uint16_t port);

void SetNonBlocking(net::Socket socket, bool on);
// Blocking calls on the socket fail once they wait this long.
void SetReceiveTimeout(net::Socket socket, int milliseconds);
void SetSendTimeout(net::Socket socket, int milliseconds);
// Closing after this sends a reset instead of an orderly end.
void SetAbortiveClose(net::Socket socket);

bool SendAll(net::Socket socket, const void* data, std::size_t length);
// Reads until the peer's end of stream, an error or the receive timeout,
// at most limit bytes. *clean is true when the stream ended in order.
std::string ReceiveUntilEnd(net::Socket socket, std::size_t limit, bool* clean = nullptr);
// Reads exactly length bytes; false on end, error or time-out first.
bool ReceiveExactly(net::Socket socket, void* data, std::size_t length);

#ifndef _WIN32
// True while some socket of this machine listens on 127.0.0.1 or any
// address at this port (read from /proc/net/tcp, so nothing connects).
bool IsListening(std::uint16_t port);
#endif

}  // namespace testing_support
