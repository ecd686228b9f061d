#include "loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace loopback {

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int Socket::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void Socket::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

namespace {

// A loopback address text ("127.0.0.1", "127.0.0.2", "::1") as a socket address.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SocketAddress MakeAddress(const std::string& text, std::uint16_t port) {
    SocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof *v6;
    }
    return address;
}

Socket Open(const SocketAddress& address, int flags = 0) {
    if (address.length == 0) {
        return Socket();
    }
    return Socket(::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
}

}  // namespace

Socket ListenAt(const std::string& address, std::uint16_t port, int backlog) {
    SocketAddress local = MakeAddress(address, port);
    Socket socket = Open(local);
    if (!socket.valid()) {
        return socket;
    }
    int on = 1;
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(socket.fd(), local.get(), local.length) != 0 ||
        ::listen(socket.fd(), backlog) != 0) {
        return Socket();
    }
    return socket;
}

Socket Listen(int backlog, std::uint16_t* port) {
    Socket socket = ListenAt("127.0.0.1", 0, backlog);
    if (port != nullptr) {
        *port = BoundPort(socket.fd());
    }
    return socket;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                     : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::uint16_t FreePort() {
    std::uint16_t port = 0;
    Listen(1, &port);
    return port;
}

Socket ConnectTo(const std::string& address, std::uint16_t port) {
    SocketAddress remote = MakeAddress(address, port);
    Socket socket = Open(remote);
    if (!socket.valid() || ::connect(socket.fd(), remote.get(), remote.length) != 0) {
        return Socket();
    }
    return socket;
}

Socket ConnectFrom(const std::string& source, std::uint16_t port) {
    SocketAddress local = MakeAddress(source, 0);
    SocketAddress remote = MakeAddress("127.0.0.1", port);
    Socket socket = Open(remote);
    if (!socket.valid() || local.length == 0 ||
        ::bind(socket.fd(), local.get(), local.length) != 0 ||
        ::connect(socket.fd(), remote.get(), remote.length) != 0) {
        return Socket();
    }
    return socket;
}

Socket Connect(std::uint16_t port) {
    return ConnectTo("127.0.0.1", port);
}

Socket ConnectNonBlocking(std::uint16_t port) {
    SocketAddress remote = MakeAddress("127.0.0.1", port);
    Socket socket = Open(remote, SOCK_NONBLOCK);
    if (::connect(socket.fd(), remote.get(), remote.length) != 0 && errno != EINPROGRESS) {
        return Socket();
    }
    return socket;
}

void SetNonBlocking(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

void SetReceiveTimeout(int fd, int milliseconds) {
    timeval timeout{milliseconds / 1000, static_cast<suseconds_t>(milliseconds % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void SetAbortiveClose(int fd) {
    linger option{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

bool SendAll(int fd, const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::string ReceiveUntilEnd(int fd, std::size_t limit, bool* clean) {
    std::string text;
    char buffer[16384];
    bool ended = false;
    while (text.size() < limit) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0) {
            ended = true;
            break;
        }
        if (got < 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (clean != nullptr) {
        *clean = ended;
    }
    return text;
}

bool ReceiveExactly(int fd, void* data, std::size_t length) {
    char* bytes = static_cast<char*>(data);
    while (length > 0) {
        ssize_t got = ::recv(fd, bytes, length, 0);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

namespace {

// One kernel table of listening sockets; `reachable` names the local address
// texts (in the table's hex form) that a loopback client can reach.
bool ListensIn(const char* tablePath, std::uint16_t port,
               std::initializer_list<const char*> reachable) {
    std::ifstream table(tablePath);
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        // "  0: 0100007F:1F90 00000000:0000 0A ..." : local address, remote, state
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        std::size_t colon = local.find(':');
        if (colon == std::string::npos || state != "0A") {
            continue;
        }
        unsigned long localPort = std::stoul(local.substr(colon + 1), nullptr, 16);
        std::string host = local.substr(0, colon);
        if (localPort != port) {
            continue;
        }
        for (const char* address : reachable) {
            if (host == address) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// An IPv4 listener on loopback or any address, or a dual-stack one on any address.
bool IsListening(std::uint16_t port) {
    return ListensIn("/proc/net/tcp", port, {"0100007F", "00000000"}) ||
           ListensIn("/proc/net/tcp6", port, {"00000000000000000000000000000000"});
}

}  // namespace loopback
