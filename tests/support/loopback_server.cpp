#include "loopback_server.h"

#include "relay/send_all.h"
#include "test_socket.h"

namespace testing_support {
namespace {

constexpr int kStopCheckMs = 20;

// Reads until the stream ends, handing each chunk to the sink.
template <typename Sink>
void ReadUntilEnd(net::Socket connection, Sink sink) {
    char buffer[16384];
    for (;;) {
        const int received = net::Recv(connection, buffer, sizeof buffer);
        if (received <= 0) {
            return;
        }
        sink(buffer, received);
    }
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler) : m_handler(std::move(handler)) {
    net::StartSockets();
    m_listener = net::CreateTcpSocket();
    if (net::Bind(m_listener, net::LoopbackAddr(), 0) && net::Listen(m_listener, 64) &&
        net::SetBlocking(m_listener, false)) {
        m_port = net::LocalPort(m_listener);
    }
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    Stop();
}

void LoopbackServer::AcceptLoop() {
    while (!m_stopping.load()) {
        if (!net::WaitReadable(m_listener, kStopCheckMs)) {
            continue;
        }
        const net::Socket connection = net::Accept(m_listener, nullptr);
        if (connection == net::kInvalidSocket) {
            continue;
        }
        m_accepted.fetch_add(1);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.push_back(connection);
        m_handlers.emplace_back([this, connection] { m_handler(connection); });
    }
}

void LoopbackServer::Stop() {
    if (m_stopping.exchange(true)) {
        return;
    }
    m_acceptThread.join();
    net::Close(m_listener);
    // The accept thread is gone, so the lists no longer grow.
    for (const net::Socket connection : m_connections) {
        net::Shutdown(connection, net::ShutdownHow::Both);
    }
    for (std::thread& handler : m_handlers) {
        handler.join();
    }
    for (const net::Socket connection : m_connections) {
        net::Close(connection);
    }
}

EchoServer::EchoServer()
    : m_server([this](net::Socket connection) {
          ReadUntilEnd(connection, [&](const char* data, int length) {
              {
                  std::lock_guard<std::mutex> lock(m_mutex);
                  m_received.append(data, static_cast<std::size_t>(length));
              }
              SendAll(connection, data, length);
          });
          net::Shutdown(connection, net::ShutdownHow::Send);
      }) {}

std::string EchoServer::Received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

LoopbackServer::Handler GreetingHandler(const std::string& greeting) {
    return [greeting](net::Socket connection) {
        SendAll(connection, greeting.data(), static_cast<int>(greeting.size()));
        ReadUntilEnd(connection, [](const char*, int) {});
        net::Shutdown(connection, net::ShutdownHow::Send);
    };
}

LoopbackServer::Handler AnswerAfterEndHandler() {
    return [](net::Socket connection) {
        std::string request;
        ReadUntilEnd(connection, [&](const char* data, int length) {
            request.append(data, static_cast<std::size_t>(length));
        });
        SendAll(connection, request.data(), static_cast<int>(request.size()));
        net::Shutdown(connection, net::ShutdownHow::Send);
    };
}

}  // namespace testing_support
