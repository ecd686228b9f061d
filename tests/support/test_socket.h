// Small blocking-socket helpers for tests that talk over 127.0.0.1.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net.h"
#include "platform/wait_until.h"

namespace testing_support {

constexpr int kPatienceMs = 5000;

// Polls until the condition holds, at most timeoutMs.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = kPatienceMs) {
    return platform::WaitUntil(condition, timeoutMs);
}

// A port nobody listens on right now (bound, then released).
int UnusedPort();

// A client connection that closes itself.
class TestSocket {
  public:
    TestSocket() = default;
    explicit TestSocket(net::Socket socket) : m_socket(socket) {}
    ~TestSocket() { Close(); }
    TestSocket(TestSocket&& other) noexcept : m_socket(other.m_socket) {
        other.m_socket = net::kInvalidSocket;
    }
    TestSocket& operator=(TestSocket&& other) noexcept;
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    static TestSocket ConnectLoopback(int port);

    bool IsValid() const { return m_socket != net::kInvalidSocket; }
    net::Socket Handle() const { return m_socket; }
    void Close();

    bool SendText(const std::string& data);
    void ShutdownSend() { net::Shutdown(m_socket, net::ShutdownHow::Send); }
    // Reads exactly count bytes; fewer when the stream ends or time runs out.
    std::string Read(std::size_t count, int timeoutMs = kPatienceMs);
    // Reads until the peer ends the stream; sawEnd tells whether it ended in
    // order (not reset, not timed out).
    std::string ReadToEnd(bool* sawEnd, int timeoutMs = kPatienceMs);

  private:
    net::Socket m_socket = net::kInvalidSocket;
};

}  // namespace testing_support
