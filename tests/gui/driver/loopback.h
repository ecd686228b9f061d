// Loopback TCP helpers for the relay tests: an echo target, a client, a port
// holder. Everything binds and connects on 127.0.0.1 only.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wait.h"

namespace vorlane::gui {

class WinsockSession {
  public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

// A port that was free a moment ago (the system's choice on 127.0.0.1).
int FreeLoopbackPort();

// Holds a port with a listening socket, so a relay that wants it must fail.
class PortHolder {
  public:
    explicit PortHolder(int port);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool Listening() const { return socket_ != INVALID_SOCKET; }

  private:
    SOCKET socket_ = INVALID_SOCKET;
};

// Sends back whatever each client sends, until the client closes, and keeps
// what it heard so a test can see the bytes as they arrived.
class EchoServer {
  public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;
    int Port() const { return port_; }
    // Everything received since the last call, from all clients.
    std::string TakeHeard();

  private:
    void AcceptLoop();
    void Echo(SOCKET peer);

    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex heardLock_;
    std::string heard_;
    std::mutex workersLock_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

class LoopbackClient {
  public:
    explicit LoopbackClient(int port);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool Connected() const { return socket_ != INVALID_SOCKET; }
    bool Send(const std::string& bytes);
    // Up to `count` bytes; fewer when the peer closes or `limit` passes first.
    std::string Receive(size_t count, milliseconds limit = kWaitLimit);
    void Close();

  private:
    SOCKET socket_ = INVALID_SOCKET;
};

// Sends `payload` on `client` and reads as many bytes back. Returns
// the bytes that came back (equal to `payload` when the relay works).
std::string RoundTrip(LoopbackClient& client, const std::string& payload);

}  // namespace vorlane::gui
