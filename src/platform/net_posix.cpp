#ifndef _WIN32

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/net.h"
#include "platform/system_sockets.h"

namespace net {

bool StartSockets() {
    return true;
}

Socket CreateTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

Socket CreateUdpSocket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

Socket Accept(Socket listener, std::uint32_t* peerAddr, std::uint16_t* peerPort) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    // accept4 without SOCK_NONBLOCK gives a blocking socket even from a
    // non-blocking listener.
    const Socket socket =
        ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (socket != kInvalidSocket && peerAddr != nullptr) {
        *peerAddr = address.sin_addr.s_addr;
    }
    if (socket != kInvalidSocket && peerPort != nullptr) {
        *peerPort = ntohs(address.sin_port);
    }
    return socket;
}

int Recv(Socket socket, char* buffer, int length) {
    ssize_t received;
    do {
        received = ::recv(socket, buffer, static_cast<size_t>(length), 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<int>(received);
}

int Send(Socket socket, const char* data, int length) {
    ssize_t sent;
    do {
        sent = ::send(socket, data, static_cast<size_t>(length), kSendFlags);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

void Shutdown(Socket socket, ShutdownHow how) {
    const int mode = how == ShutdownHow::Receive ? SHUT_RD
                     : how == ShutdownHow::Send  ? SHUT_WR
                                                 : SHUT_RDWR;
    ::shutdown(socket, mode);
}

void Close(Socket socket) {
    ::close(socket);
}

int LastError() {
    return errno;
}

bool IsTransientAcceptError(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED ||
           error == EPROTO;
}

bool IsClosedListenerError(int error) {
    return error == EBADF || error == ENOTSOCK || error == EINVAL;
}

bool SetBlocking(Socket socket, bool blocking) {
    const int flags = ::fcntl(socket, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(socket, F_SETFL, wanted) == 0;
}

bool SetNoDelay(Socket socket) {
    const int on = 1;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool SetReceiveTimeout(Socket socket, int timeoutMs) {
    timeval wait{};
    wait.tv_sec = timeoutMs / 1000;
    wait.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0;
}

void SetKeepAliveTimes(Socket socket) {
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    const int idleSeconds = kKeepAliveIdleSeconds;
    const int intervalSeconds = kKeepAliveIntervalSeconds;
    const int probes = kKeepAliveProbes;
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#endif
}

void AllowPortReuse(Socket socket) {
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool SharePort(Socket socket) {
#ifdef __linux__
    const int on = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0;
#else
    (void)socket;
    return false;
#endif
}

bool WaitReadable(Socket socket, int timeoutMs) {
    pollfd entry{socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace net

#endif
