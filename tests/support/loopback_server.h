// The loopback server of the tests: it plays the relay's target, and each
// accepted connection runs a test's handler on a thread of its own. A
// connection closes when its handler returns; stopping shuts every live one
// down and joins every thread, so a test ends with nothing left.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_socket.h"

namespace testing_support {

class LoopbackServer {
  public:
    // The handler gets the connection and its number (0 for the first).
    using Handler = std::function<void(TestSocket& connection, int index)>;

    // Listens on 127.0.0.1 and a port the system chose.
    explicit LoopbackServer(Handler handler);
    // Accepts on a listening socket made by the test (another address, or
    // one whose queue it filled first); Listening() is false when it is none.
    LoopbackServer(Handler handler, TestSocket listener);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    bool Listening() const { return m_listener.valid(); }
    int AcceptedCount() const { return m_accepted.load(); }
    int FinishedCount() const { return m_finished.load(); }
    void Stop();

    // Copies everything back until the peer ends, then returns.
    static void Echo(TestSocket& connection);

  private:
    void AcceptLoop();
    void Serve(net::Socket socket, int index);

    Handler m_handler;
    TestSocket m_listener;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_finished{0};
    std::mutex m_mutex;
    std::set<net::Socket> m_live;  // connections of running handlers, shut down on Stop
    std::vector<std::thread> m_handlers;
    std::thread m_acceptThread;
};

// Sends back everything it receives and keeps a copy; ends its sending side
// when the client does.
class EchoServer {
  public:
    EchoServer();
    std::uint16_t Port() const { return m_server.Port(); }
    int AcceptedCount() const { return m_server.AcceptedCount(); }
    std::string Received() const;
    // What arrived since the last call, from all clients.
    std::string TakeReceived();
    void Stop() { m_server.Stop(); }

  private:
    mutable std::mutex m_mutex;
    std::string m_received;
    std::size_t m_taken = 0;
    LoopbackServer m_server;
};

// Speaks first: sends its greeting on connect, then waits for the client's end.
LoopbackServer::Handler GreetingHandler(const std::string& greeting);

// Answers only after the client has ended its sending side: sends back all it
// read, then ends the stream.
LoopbackServer::Handler AnswerAfterEndHandler();

}  // namespace testing_support
