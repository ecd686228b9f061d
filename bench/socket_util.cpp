#include "socket_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace bench {
namespace {

std::runtime_error SocketError(const char* what) {
    // SO_RCVTIMEO and SO_SNDTIMEO expire as EAGAIN.
    const bool timed_out = errno == EAGAIN || errno == EWOULDBLOCK;
    return std::runtime_error(std::string(what) + ": " +
                              (timed_out ? "timed out, the relay stalled" : std::strerror(errno)));
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool ConnectTo(int fd, uint16_t port) {
    const sockaddr_in address = LoopbackAddress(port);
    return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int Socket::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Socket::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

Socket ConnectLoopback(uint16_t port, std::chrono::seconds io_timeout) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        throw SocketError("socket");
    }
    if (!ConnectTo(socket.fd(), port)) {
        throw SocketError("connect");
    }
    const int on = 1;
    setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(io_timeout.count());
    setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(socket.fd(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return socket;
}

bool Accepts(uint16_t port) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return socket.valid() && ConnectTo(socket.fd(), port);
}

bool WaitUntilAccepting(uint16_t port, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

uint16_t PickFreePort() {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (!socket.valid() ||
        bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw SocketError("picking a free port");
    }
    return ntohs(address.sin_port);
}

void SendAll(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SocketError("send");
        }
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
}

size_t ReceiveSome(int fd, void* data, size_t capacity) {
    for (;;) {
        const ssize_t received = recv(fd, data, capacity, 0);
        if (received >= 0) {
            return static_cast<size_t>(received);
        }
        if (errno != EINTR) {
            throw SocketError("recv");
        }
    }
}

void ReceiveExactly(int fd, void* data, size_t length) {
    auto* bytes = static_cast<char*>(data);
    while (length > 0) {
        const size_t received = ReceiveSome(fd, bytes, length);
        if (received == 0) {
            throw std::runtime_error("connection closed early");
        }
        bytes += received;
        length -= received;
    }
}

}  // namespace bench
