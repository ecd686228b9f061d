#include "server/metrics/metrics_server.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/net.h"
#include "relay/event/asio_address.h"
#include "server/metrics/metrics_request.h"

namespace {

using asio::ip::tcp;

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);

std::string Response(const char* status, const std::string& extraHeaders, const std::string& body) {
    return std::string("HTTP/1.1 ") + status + "\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

std::string PlainResponse(const char* status, const std::string& extraHeaders = "") {
    return Response(status, extraHeaders + "Content-Type: text/plain; charset=utf-8\r\n",
                    std::string(status) + "\n");
}

// The answer to a complete request head.
std::string Answer(std::string_view head, const MetricsServer::BodySource& body) {
    switch (ParseMetricsHead(head)) {
        case MetricsRequest::BadRequest:
            return PlainResponse("400 Bad Request");
        case MetricsRequest::NotFound:
            return PlainResponse("404 Not Found");
        case MetricsRequest::MethodNotAllowed:
            return PlainResponse("405 Method Not Allowed", "Allow: GET\r\n");
        case MetricsRequest::Metrics:
            break;
    }
    try {
        return Response("200 OK", "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n",
                        body());
    } catch (const std::exception&) {
        return PlainResponse("500 Internal Server Error");
    }
}

}  // namespace

// One client: its request head within the head deadline, then the answer
// and the close within the deadline of the whole exchange.
class MetricsServer::Session : public std::enable_shared_from_this<Session> {
  public:
    using Clock = std::chrono::steady_clock;

    Session(MetricsServer& server, tcp::socket socket)
        : m_server(server),
          m_socket(std::move(socket)),
          m_deadline(server.m_io),
          m_accepted(Clock::now()) {}

    void Begin() {
        const MetricsLimits& limits = m_server.m_limits;
        CloseAt(m_accepted + std::min(limits.headTimeout, limits.clientTimeout));
        auto self = shared_from_this();
        asio::async_read_until(
            m_socket, asio::dynamic_buffer(m_head, limits.maxHeadBytes), "\r\n\r\n",
            [self](std::error_code error, std::size_t length) { self->OnHead(error, length); });
    }

    bool HasHead() const { return m_hasHead; }

    void Close() {
        if (m_closed) {
            return;
        }
        m_closed = true;
        std::error_code ignored;
        m_deadline.cancel();
        m_socket.close(ignored);
        m_server.Finished(shared_from_this());
    }

  private:
    void CloseAt(Clock::time_point deadline) {
        m_deadline.expires_at(deadline);
        auto self = shared_from_this();
        m_deadline.async_wait([self](std::error_code error) {
            // A wait that fired just as the deadline moved on is not the end.
            if (!error && self->m_deadline.expiry() <= Clock::now()) {
                self->Close();
            }
        });
    }

    void OnHead(std::error_code error, std::size_t length) {
        if (m_closed) {
            return;
        }
        if (error == asio::error::not_found) {  // no head end within maxHeadBytes
            Answered(PlainResponse("431 Request Header Fields Too Large"));
        } else if (error) {
            Close();
        } else {
            Answered(Answer(std::string_view(m_head).substr(0, length), m_server.m_body));
        }
    }

    void Answered(std::string response) {
        m_hasHead = true;
        CloseAt(m_accepted + m_server.m_limits.clientTimeout);
        m_response = std::move(response);
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(m_response),
                          [self](std::error_code /*error*/, std::size_t /*written*/) {
                              std::error_code ignored;
                              self->m_socket.shutdown(tcp::socket::shutdown_send, ignored);
                              self->Close();
                          });
    }

    MetricsServer& m_server;
    tcp::socket m_socket;
    asio::steady_timer m_deadline;
    const Clock::time_point m_accepted;
    std::string m_head;
    std::string m_response;
    bool m_hasHead = false;
    bool m_closed = false;
};

MetricsServer::MetricsServer(BodySource body, MetricsLimits limits)
    : m_body(std::move(body)), m_limits(limits), m_acceptor(m_io), m_acceptRetry(m_io) {}

MetricsServer::~MetricsServer() {
    Stop();
}

std::optional<MetricsStartError> MetricsServer::Start(const net::IpAddress& address,
                                                      std::uint16_t port) {
    const tcp::endpoint endpoint(ToAsioAddress(address), port);
    std::error_code error;
    const char* step = "open";
    m_acceptor.open(endpoint.protocol(), error);
    if (!error) {
        if (endpoint.protocol() == tcp::v6() && address.IsUnspecified()) {
            std::error_code ignored;  // both families where the system allows it
            m_acceptor.set_option(asio::ip::v6_only(false), ignored);
        }
        net::AllowPortReuse(static_cast<net::Socket>(m_acceptor.native_handle()));
        step = "bind";
        m_acceptor.bind(endpoint, error);
    }
    if (!error) {
        step = "listen";
        m_acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (!error) {
        m_port = m_acceptor.local_endpoint(error).port();
    }
    if (error) {
        std::error_code ignored;
        m_acceptor.close(ignored);
        return MetricsStartError{step, error};
    }
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
    return std::nullopt;
}

void MetricsServer::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    // Once nothing is pending, run() returns.
    asio::post(m_io, [this] { CloseAll(); });
    m_thread.join();
}

void MetricsServer::Accept() {
    if (m_stopping || m_accepting) {
        return;
    }
    m_accepting = true;
    m_acceptor.async_accept([this](std::error_code error, tcp::socket client) {
        m_accepting = false;
        if (m_stopping) {
            return;
        }
        if (error) {
            // Out of descriptors and the like: try again shortly, not in a busy loop.
            m_acceptRetry.expires_after(kAcceptRetryDelay);
            m_acceptRetry.async_wait([this](std::error_code waitError) {
                if (!waitError) {
                    Accept();
                }
            });
            return;
        }
        MakeRoom();
        auto session = std::make_shared<Session>(*this, std::move(client));
        m_sessions.push_back(session);
        session->Begin();
        Accept();
    });
}

// A scraper sends its head at once, so the clients still sending theirs are
// the ones to lose their place first.
void MetricsServer::MakeRoom() {
    while (!m_sessions.empty() && m_sessions.size() >= m_limits.maxClients) {
        const auto waiting = std::find_if(m_sessions.begin(), m_sessions.end(),
                                          [](const auto& session) { return !session->HasHead(); });
        const std::shared_ptr<Session> oldest =
            waiting != m_sessions.end() ? *waiting : m_sessions.front();
        oldest->Close();  // leaves m_sessions
    }
}

void MetricsServer::Finished(const std::shared_ptr<Session>& session) {
    m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), session), m_sessions.end());
}

void MetricsServer::CloseAll() {
    m_stopping = true;
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_acceptRetry.cancel();
    const std::vector<std::shared_ptr<Session>> open(m_sessions.begin(), m_sessions.end());
    for (const auto& session : open) {
        session->Close();
    }
}
