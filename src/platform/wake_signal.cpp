#include "platform/wake_signal.h"

#include "platform/net.h"
#include "platform/system_sockets.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace net {

#ifdef _WIN32

WakeSignal::~WakeSignal() {
    if (m_hSocket != kInvalidSocket) {
        Close(m_hSocket);
    }
}

bool WakeSignal::Open() {
    if (m_hSocket != kInvalidSocket) {
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

void WakeSignal::Signal() {
    const char byte = 0;
    SendTo(m_hSocket, &byte, 1, LoopbackAddr(), m_nPort);
}

void WakeSignal::Drain() {
    char buffer[16];
    for (int i = 0; i < 1000 && Recv(m_hSocket, buffer, sizeof buffer) > 0; ++i) {
    }
}

WakeSignal::Ready WakeSignal::WaitWithListener(Socket listener) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    FD_SET(m_hSocket, &readable);
    if (::select(0, &readable, nullptr, nullptr, nullptr) <= 0) {
        return Ready::Failed;
    }
    // A wake-up wins: it means Stop, and Stop must not be followed by an accept.
    return FD_ISSET(m_hSocket, &readable) ? Ready::Wake : Ready::Listener;
}

#else

WakeSignal::~WakeSignal() {
    if (m_readEnd >= 0) {
        ::close(m_readEnd);
        ::close(m_writeEnd);
    }
}

bool WakeSignal::Open() {
    if (m_readEnd >= 0) {
        return true;
    }
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    return true;
}

void WakeSignal::Signal() {
    const char byte = 0;
    // A full pipe already holds a wake-up; nothing is lost when this fails.
    const ssize_t written = ::write(m_writeEnd, &byte, 1);
    static_cast<void>(written);
}

void WakeSignal::Drain() {
    char buffer[64];
    while (::read(m_readEnd, buffer, sizeof buffer) > 0) {
    }
}

// poll, not select: descriptor numbers can pass FD_SETSIZE on a busy relay.
WakeSignal::Ready WakeSignal::WaitWithListener(Socket listener) {
    pollfd entries[2] = {{listener, POLLIN, 0}, {m_readEnd, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(entries, 2, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return Ready::Failed;
    }
    return entries[1].revents != 0 ? Ready::Wake : Ready::Listener;
}

#endif

}  // namespace net
