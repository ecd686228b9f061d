#include "test_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <cerrno>
#include <fstream>
#include <initializer_list>
#include <sstream>
#endif

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {
namespace {

#ifdef _WIN32
using AddressLength = int;
constexpr int kNoSignal = 0;
#else
using AddressLength = socklen_t;
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

// A loopback address text ("127.0.0.1", "127.0.0.2", "::1") as a socket address.
struct SocketAddress {
    sockaddr_storage storage{};
    AddressLength length = 0;
    int family() const { return storage.ss_family; }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SocketAddress MakeAddress(const std::string& text, std::uint16_t port) {
    SocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof *v4;
    } else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof *v6;
    }
    return address;
}

// Not inherited by the programs a test starts, which would hold it open.
TestSocket Open(const SocketAddress& address) {
    if (address.length == 0) {
        return TestSocket();
    }
#ifdef _WIN32
    return TestSocket(::socket(address.family(), SOCK_STREAM, 0));
#else
    return TestSocket(::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
#endif
}

bool ConnectAddress(const TestSocket& socket, SocketAddress address) {
    return ::connect(socket.fd(), address.get(), address.length) == 0;
}

bool WouldBlock() {
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EINPROGRESS;
#endif
}

void SetTimeout(net::Socket socket, int option, int milliseconds) {
#ifdef _WIN32
    const DWORD timeout = static_cast<DWORD>(milliseconds);
#else
    const timeval timeout{milliseconds / 1000,
                          static_cast<suseconds_t>(milliseconds % 1000) * 1000};
#endif
    ::setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
}

int ReceiveSome(net::Socket socket, char* buffer, std::size_t length) {
    return static_cast<int>(::recv(socket, buffer, static_cast<int>(length), 0));
}

}  // namespace

TestSocket& TestSocket::operator=(TestSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_socket = other.Release();
    }
    return *this;
}

net::Socket TestSocket::Release() {
    const net::Socket socket = m_socket;
    m_socket = net::kInvalidSocket;
    return socket;
}

void TestSocket::Close() {
    if (valid()) {
        net::Close(Release());
    }
}

bool TestSocket::Send(const std::string& data) {
    return valid() && SendAll(m_socket, data.data(), data.size());
}

std::string TestSocket::Read(std::size_t count, int timeoutMs) {
    std::string data;
    char buffer[16384];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (valid() && data.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !net::WaitReadable(m_socket, static_cast<int>(left.count()))) {
            break;
        }
        const std::size_t wanted = std::min(sizeof buffer, count - data.size());
        const int received = net::Recv(m_socket, buffer, static_cast<int>(wanted));
        if (received <= 0) {
            break;
        }
        data.append(buffer, static_cast<std::size_t>(received));
    }
    return data;
}

std::string TestSocket::SendAllAndReadBack(const std::string& data, bool* sawEnd, int timeoutMs) {
    std::thread sender([&] {
        Send(data);
        ShutdownSend();
    });
    std::string back = ReadToEnd(sawEnd, timeoutMs);
    sender.join();
    return back;
}

std::string TestSocket::ReadToEnd(bool* sawEnd, int timeoutMs) {
    std::string data;
    char buffer[16384];
    *sawEnd = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !net::WaitReadable(m_socket, static_cast<int>(left.count()))) {
            return data;
        }
        const int received = net::Recv(m_socket, buffer, sizeof buffer);
        if (received <= 0) {
            *sawEnd = received == 0;  // an orderly end, not a reset
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(received));
    }
}

TestSocket ListenAt(const std::string& address, std::uint16_t port, int backlog) {
    net::StartSockets();
    SocketAddress local = MakeAddress(address, port);
    TestSocket socket = Open(local);
    if (!socket.valid()) {
        return socket;
    }
    net::AllowPortReuse(socket.fd());
    if (::bind(socket.fd(), local.get(), local.length) != 0 || !net::Listen(socket.fd(), backlog)) {
        return TestSocket();
    }
    return socket;
}

TestSocket Listen(int backlog, std::uint16_t* port) {
    TestSocket socket = ListenAt("127.0.0.1", 0, backlog);
    if (port != nullptr) {
        *port = BoundPort(socket.fd());
    }
    return socket;
}

std::uint16_t BoundPort(net::Socket socket) {
    return socket == net::kInvalidSocket ? 0 : static_cast<std::uint16_t>(net::LocalPort(socket));
}

std::uint16_t FreePort() {
    std::uint16_t port = 0;
    Listen(1, &port);
    return port;
}

TestSocket ConnectTo(const std::string& address, std::uint16_t port) {
    net::StartSockets();
    const SocketAddress remote = MakeAddress(address, port);
    TestSocket socket = Open(remote);
    if (!socket.valid() || !ConnectAddress(socket, remote)) {
        return TestSocket();
    }
    return socket;
}

TestSocket Connect(std::uint16_t port) {
    return ConnectTo("127.0.0.1", port);
}

TestSocket ConnectFrom(const std::string& source, std::uint16_t port) {
    SocketAddress local = MakeAddress(source, 0);
    const SocketAddress remote = MakeAddress("127.0.0.1", port);
    TestSocket socket = Open(remote);
    if (!socket.valid() || local.length == 0 ||
        ::bind(socket.fd(), local.get(), local.length) != 0 || !ConnectAddress(socket, remote)) {
        return TestSocket();
    }
    return socket;
}

TestSocket ConnectNonBlocking(std::uint16_t port) {
    const SocketAddress remote = MakeAddress("127.0.0.1", port);
    TestSocket socket = Open(remote);
    if (!socket.valid() || !net::SetBlocking(socket.fd(), false) ||
        (!ConnectAddress(socket, remote) && !WouldBlock())) {
        return TestSocket();
    }
    return socket;
}

void SetNonBlocking(net::Socket socket, bool on) {
    net::SetBlocking(socket, !on);
}

void SetReceiveTimeout(net::Socket socket, int milliseconds) {
    SetTimeout(socket, SO_RCVTIMEO, milliseconds);
}

void SetSendTimeout(net::Socket socket, int milliseconds) {
    SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

void SetAbortiveClose(net::Socket socket) {
    linger option{};
    option.l_onoff = 1;
    option.l_linger = 0;
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                 sizeof option);
}

bool SendAll(net::Socket socket, const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const auto sent = ::send(socket, bytes, static_cast<int>(length), kNoSignal);
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::string ReceiveUntilEnd(net::Socket socket, std::size_t limit, bool* clean) {
    std::string text;
    char buffer[16384];
    bool ended = false;
    while (text.size() < limit) {
        const int got = ReceiveSome(socket, buffer, sizeof buffer);
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

bool ReceiveExactly(net::Socket socket, void* data, std::size_t length) {
    char* bytes = static_cast<char*>(data);
    while (length > 0) {
        const int got = ReceiveSome(socket, bytes, length);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

#ifndef _WIN32
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
        const std::size_t colon = local.find(':');
        if (colon == std::string::npos || state != "0A") {
            continue;
        }
        const unsigned long localPort = std::stoul(local.substr(colon + 1), nullptr, 16);
        const std::string host = local.substr(0, colon);
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
#endif

}  // namespace testing_support
