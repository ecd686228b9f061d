#include "socket_util.h"

#include <sys/socket.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "wait.h"

namespace bench {
namespace {

std::runtime_error SocketError(const char* what) {
    if (errno == 0) {
        return std::runtime_error(std::string(what) + ": connection closed early");
    }
    // SO_RCVTIMEO and SO_SNDTIMEO expire as EAGAIN.
    const bool timed_out = errno == EAGAIN || errno == EWOULDBLOCK;
    return std::runtime_error(std::string(what) + ": " +
                              (timed_out ? "timed out, the relay stalled" : std::strerror(errno)));
}

}  // namespace

Socket ConnectLoopback(uint16_t port, std::chrono::seconds io_timeout) {
    errno = 0;
    Socket socket = testing_support::Connect(port);
    if (!socket.valid()) {
        throw SocketError("connect");
    }
    net::SetNoDelay(socket.fd());
    const int timeout_ms = static_cast<int>(io_timeout.count() * 1000);
    testing_support::SetReceiveTimeout(socket.fd(), timeout_ms);
    testing_support::SetSendTimeout(socket.fd(), timeout_ms);
    return socket;
}

bool Accepts(uint16_t port) {
    return testing_support::Connect(port).valid();
}

bool WaitUntilAccepting(uint16_t port, std::chrono::milliseconds budget) {
    return testing_support::WaitUntil([port] { return Accepts(port); }, budget);
}

uint16_t PickFreePort() {
    const uint16_t port = testing_support::FreePort();
    if (port == 0) {
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    return port;
}

void SendAll(int fd, const void* data, size_t length) {
    errno = 0;
    if (!testing_support::SendAll(fd, data, length)) {
        throw SocketError("send");
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
    errno = 0;
    if (!testing_support::ReceiveExactly(fd, data, length)) {
        throw SocketError("recv");
    }
}

}  // namespace bench
