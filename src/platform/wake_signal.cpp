#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>

#include <cerrno>
#endif

#include "platform/net.h"
#include "platform/wake_socket.h"

namespace net {

WakeSocket::~WakeSocket() {
    if (m_hSocket != kInvalidSocket) {
        Close(m_hSocket);
    }
}

bool WakeSocket::Open() {
    if (IsOpen()) {
        return true;
    }
    const Socket socket = CreateUdpSocket();
    if (socket == kInvalidSocket) {
        return false;
    }
    const int port = Bind(socket, LoopbackAddr(), 0) ? LocalPort(socket) : 0;
    if (port == 0 || !SetBlocking(socket, false)) {
        Close(socket);
        return false;
    }
    m_hSocket = socket;
    m_nPort = static_cast<std::uint16_t>(port);
    return true;
}

void WakeSocket::Signal() {
    const char byte = 0;
    SendTo(m_hSocket, &byte, 1, LoopbackAddr(), m_nPort);
}

void WakeSocket::Drain() {
    char buffer[16];
    for (int i = 0; i < 1000 && Recv(m_hSocket, buffer, sizeof buffer) > 0; ++i) {
    }
}

#ifdef _WIN32

WakeSocket::Ready WakeSocket::WaitWithListener(Socket listener) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    FD_SET(m_hSocket, &readable);
    if (::select(0, &readable, nullptr, nullptr, nullptr) <= 0) {
        return Ready::Failed;
    }
    // A wake-up wins: it means Stop, and Stop must not be followed by an accept.
    if (FD_ISSET(m_hSocket, &readable)) {
        return Ready::Wake;
    }
    return Ready::Listener;
}

#else

// poll, not select: descriptor numbers can pass FD_SETSIZE on a busy relay.
WakeSocket::Ready WakeSocket::WaitWithListener(Socket listener) {
    pollfd entries[2] = {{listener, POLLIN, 0}, {m_hSocket, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(entries, 2, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return Ready::Failed;
    }
    if (entries[1].revents != 0) {
        return Ready::Wake;
    }
    return Ready::Listener;
}

#endif

}  // namespace net
