#ifdef _WIN32

#include "platform/net.h"
#include "platform/system_sockets.h"

namespace net {

bool StartSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Socket CreateTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

Socket CreateUdpSocket() {
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}

Socket Accept(Socket listener, std::uint32_t* peerAddr, std::uint16_t* peerPort) {
    sockaddr_in address{};
    int length = sizeof address;
    const Socket socket = ::accept(listener, reinterpret_cast<sockaddr*>(&address), &length);
    if (socket != kInvalidSocket) {
        // Winsock hands on the listener's non-blocking mode; the pumps block.
        SetBlocking(socket, true);
        if (peerAddr != nullptr) {
            *peerAddr = address.sin_addr.s_addr;
        }
        if (peerPort != nullptr) {
            *peerPort = ntohs(address.sin_port);
        }
    }
    return socket;
}

int Recv(Socket socket, char* buffer, int length) {
    return ::recv(socket, buffer, length, 0);
}

int Send(Socket socket, const char* data, int length) {
    return ::send(socket, data, length, 0);
}

void Shutdown(Socket socket, ShutdownHow how) {
    const int mode = how == ShutdownHow::Receive ? SD_RECEIVE
                     : how == ShutdownHow::Send  ? SD_SEND
                                                 : SD_BOTH;
    ::shutdown(socket, mode);
}

void Close(Socket socket) {
    ::closesocket(socket);
}

int LastError() {
    return WSAGetLastError();
}

bool IsTransientAcceptError(int error) {
    return error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAECONNABORTED;
}

bool IsClosedListenerError(int error) {
    // Wine reports a listener closed under a pending accept as 995. Not
    // WSAEINVAL: Wine also gives that when descriptors run out, and that must
    // be shown as an accept error, not taken for the end of the run.
    return error == WSAEINTR || error == WSAENOTSOCK || error == ERROR_OPERATION_ABORTED;
}

bool SetBlocking(Socket socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

bool SetNoDelay(Socket socket) {
    const BOOL on = TRUE;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                        sizeof on) == 0;
}

bool SetReceiveTimeout(Socket socket, int timeoutMs) {
    const DWORD wait = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait),
                        sizeof wait) == 0;
}

// Windows probes ten times at the given interval before it gives up.
void SetKeepAliveTimes(Socket socket) {
    tcp_keepalive times{};
    times.onoff = 1;
    times.keepalivetime = kKeepAliveIdleSeconds * 1000;
    times.keepaliveinterval = kKeepAliveIntervalSeconds * 1000;
    DWORD returned = 0;
    ::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned, nullptr,
               nullptr);
}

void AllowPortReuse(Socket) {}

bool SharePort(Socket) {
    return false;
}

bool WaitReadable(Socket socket, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &timeout) > 0;
}

}  // namespace net

#endif
