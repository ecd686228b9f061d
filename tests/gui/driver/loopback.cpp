#include "loopback.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace vorlane::gui {
namespace {

constexpr long kSelectStepUs = 100 * 1000;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    return address;
}

SOCKET ListenOn(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    if (s == INVALID_SOCKET ||
        bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        listen(s, SOMAXCONN) == SOCKET_ERROR) {
        if (s != INVALID_SOCKET) {
            closesocket(s);
        }
        return INVALID_SOCKET;
    }
    return s;
}

int BoundPort(SOCKET s) {
    sockaddr_in address{};
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Waits at most one select step for `s` to become readable.
bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval step{0, kSelectStepUs};
    return select(0, &set, nullptr, nullptr, &step) == 1;
}

bool SendAll(SOCKET s, const char* data, size_t length) {
    while (length > 0) {
        const int sent = send(s, data, static_cast<int>(length), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace

WinsockSession::WinsockSession() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        throw std::runtime_error("WSAStartup failed");
    }
}

WinsockSession::~WinsockSession() {
    WSACleanup();
}

int FreeLoopbackPort() {
    SOCKET s = ListenOn(0);
    if (s == INVALID_SOCKET) {
        throw std::runtime_error("no free loopback port");
    }
    const int port = BoundPort(s);
    closesocket(s);
    return port;
}

PortHolder::PortHolder(int port) : socket_(ListenOn(port)) {}

PortHolder::~PortHolder() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
    }
}

EchoServer::EchoServer() : listener_(ListenOn(0)) {
    if (listener_ == INVALID_SOCKET) {
        throw std::runtime_error("echo server cannot listen");
    }
    port_ = BoundPort(listener_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

EchoServer::~EchoServer() {
    stopping_ = true;
    acceptor_.join();
    closesocket(listener_);
    std::lock_guard<std::mutex> hold(workersLock_);
    for (auto& worker : workers_) {
        worker.join();
    }
}

// Polls with select so that the destructor's flag ends every thread in bounded time.
void EchoServer::AcceptLoop() {
    while (!stopping_) {
        if (!Readable(listener_)) {
            continue;
        }
        SOCKET peer = accept(listener_, nullptr, nullptr);
        if (peer == INVALID_SOCKET) {
            continue;
        }
        std::lock_guard<std::mutex> hold(workersLock_);
        workers_.emplace_back([this, peer] { Echo(peer); });
    }
}

void EchoServer::Echo(SOCKET peer) {
    char buffer[4096];
    while (!stopping_) {
        if (!Readable(peer)) {
            continue;
        }
        const int received = recv(peer, buffer, sizeof buffer, 0);
        if (received <= 0) {
            break;
        }
        {
            std::lock_guard<std::mutex> hold(heardLock_);
            heard_.append(buffer, static_cast<size_t>(received));
        }
        if (!SendAll(peer, buffer, static_cast<size_t>(received))) {
            break;
        }
    }
    closesocket(peer);
}

std::string EchoServer::TakeHeard() {
    std::lock_guard<std::mutex> hold(heardLock_);
    return std::exchange(heard_, {});
}

LoopbackClient::LoopbackClient(int port) : socket_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address = Loopback(port);
    if (socket_ != INVALID_SOCKET &&
        connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        Close();
    }
}

LoopbackClient::~LoopbackClient() {
    Close();
}

bool LoopbackClient::Send(const std::string& bytes) {
    return Connected() && SendAll(socket_, bytes.data(), bytes.size());
}

std::string LoopbackClient::Receive(size_t count, milliseconds limit) {
    std::string bytes;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Connected() && bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (!Readable(socket_)) {
            continue;
        }
        const int wanted = static_cast<int>(std::min(sizeof buffer, count - bytes.size()));
        const int received = recv(socket_, buffer, wanted, 0);
        if (received <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(received));
    }
    return bytes;
}

void LoopbackClient::Close() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

std::string RoundTrip(LoopbackClient& client, const std::string& payload) {
    if (!client.Send(payload)) {
        return {};
    }
    return client.Receive(payload.size());
}

}  // namespace vorlane::gui
