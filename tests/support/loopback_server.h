// Loopback TCP servers that play the relay's target in tests: each accepted
// connection runs a handler on its own thread. Stopping shuts every open
// connection down, joins all threads and closes every socket.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace testing_support {

class LoopbackServer {
  public:
    // The handler must not close the socket; the server closes it when it stops.
    using Handler = std::function<void(net::Socket connection)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return m_port; }
    int AcceptedCount() const { return m_accepted.load(); }
    void Stop();

  private:
    void AcceptLoop();

    Handler m_handler;
    net::Socket m_listener = net::kInvalidSocket;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<net::Socket> m_connections;
    std::vector<std::thread> m_handlers;
};

// Sends back everything it receives and keeps a copy; ends its sending side
// when the client does.
class EchoServer {
  public:
    EchoServer();
    int Port() const { return m_server.Port(); }
    int AcceptedCount() const { return m_server.AcceptedCount(); }
    std::string Received() const;
    void Stop() { m_server.Stop(); }

  private:
    mutable std::mutex m_mutex;
    std::string m_received;
    LoopbackServer m_server;
};

// Speaks first: sends its greeting on connect, then waits for the client's end.
LoopbackServer::Handler GreetingHandler(const std::string& greeting);

// Answers only after the client has ended its sending side: sends back all it
// read, then ends the stream.
LoopbackServer::Handler AnswerAfterEndHandler();

}  // namespace testing_support
