#include "loopback_server.h"

namespace testing_support {
namespace {

constexpr int kStopCheckMs = 20;

// Reads until the stream ends, handing each chunk to the sink.
template <typename Sink>
void ReadUntilEnd(const TestSocket& connection, Sink sink) {
    char buffer[16384];
    for (;;) {
        const int received = net::Recv(connection.fd(), buffer, sizeof buffer);
        if (received <= 0) {
            return;
        }
        sink(buffer, static_cast<std::size_t>(received));
    }
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler)
    : LoopbackServer(std::move(handler), Listen(64, nullptr)) {}

LoopbackServer::LoopbackServer(Handler handler, TestSocket listener)
    : m_handler(std::move(handler)),
      m_listener(std::move(listener)),
      m_port(BoundPort(m_listener.fd())) {
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    Stop();
}

// Polls, so that Stop ends the thread in bounded time.
void LoopbackServer::AcceptLoop() {
    while (Listening() && !m_stopping.load()) {
        if (!net::WaitReadable(m_listener.fd(), kStopCheckMs)) {
            continue;
        }
        const net::Socket connection = net::Accept(m_listener.fd(), nullptr);
        if (connection == net::kInvalidSocket) {
            continue;
        }
        const int index = m_accepted.fetch_add(1);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.insert(connection);
        m_handlers.emplace_back([this, connection, index] { Serve(connection, index); });
    }
}

void LoopbackServer::Serve(net::Socket socket, int index) {
    TestSocket connection(socket);
    m_handler(connection, index);
    {
        // Closed under the lock, so Stop never shuts down a reused number.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.erase(socket);
        connection.Close();
    }
    m_finished.fetch_add(1);
}

void LoopbackServer::Stop() {
    if (m_stopping.exchange(true)) {
        return;
    }
    m_acceptThread.join();
    m_listener.Close();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const net::Socket connection : m_live) {
            net::Shutdown(connection, net::ShutdownHow::Both);
        }
    }
    // The accept thread is gone, so the list no longer grows.
    for (std::thread& handler : m_handlers) {
        handler.join();
    }
}

void LoopbackServer::Echo(TestSocket& connection) {
    ReadUntilEnd(connection, [&](const char* data, std::size_t length) {
        SendAll(connection.fd(), data, length);
    });
}

EchoServer::EchoServer()
    : m_server([this](TestSocket& connection, int) {
          ReadUntilEnd(connection, [&](const char* data, std::size_t length) {
              {
                  std::lock_guard<std::mutex> lock(m_mutex);
                  m_received.append(data, length);
              }
              SendAll(connection.fd(), data, length);
          });
          connection.ShutdownSend();
      }) {}

std::string EchoServer::Received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::string EchoServer::TakeReceived() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string fresh = m_received.substr(m_taken);
    m_taken = m_received.size();
    return fresh;
}

LoopbackServer::Handler GreetingHandler(const std::string& greeting) {
    return [greeting](TestSocket& connection, int) {
        connection.Send(greeting);
        ReadUntilEnd(connection, [](const char*, std::size_t) {});
        connection.ShutdownSend();
    };
}

LoopbackServer::Handler AnswerAfterEndHandler() {
    return [](TestSocket& connection, int) {
        std::string request;
        ReadUntilEnd(connection,
                     [&](const char* data, std::size_t length) { request.append(data, length); });
        connection.Send(request);
        connection.ShutdownSend();
    };
}

}  // namespace testing_support
