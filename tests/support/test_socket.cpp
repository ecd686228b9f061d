#include "test_socket.h"

#include <algorithm>
#include <chrono>

#include "relay/send_all.h"

namespace testing_support {

int UnusedPort() {
    const net::Socket socket = net::CreateTcpSocket();
    int port = 0;
    if (net::Bind(socket, net::LoopbackAddr(), 0)) {
        port = net::LocalPort(socket);
    }
    net::Close(socket);
    return port;
}

TestSocket& TestSocket::operator=(TestSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_socket = other.m_socket;
        other.m_socket = net::kInvalidSocket;
    }
    return *this;
}

TestSocket TestSocket::ConnectLoopback(int port) {
    const net::Socket socket = net::CreateTcpSocket();
    if (socket == net::kInvalidSocket) {
        return TestSocket();
    }
    if (!net::Connect(socket, net::LoopbackAddr(), static_cast<std::uint16_t>(port))) {
        net::Close(socket);
        return TestSocket();
    }
    return TestSocket(socket);
}

void TestSocket::Close() {
    if (m_socket != net::kInvalidSocket) {
        net::Close(m_socket);
        m_socket = net::kInvalidSocket;
    }
}

bool TestSocket::SendText(const std::string& data) {
    const int length = static_cast<int>(data.size());
    return SendAll(m_socket, data.data(), length) == length;
}

std::string TestSocket::Read(std::size_t count, int timeoutMs) {
    std::string data;
    char buffer[16384];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (data.size() < count) {
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

}  // namespace testing_support
