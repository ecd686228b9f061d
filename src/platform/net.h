// One portability layer for sockets: Winsock 2 on Windows, BSD sockets
// elsewhere. The engine has a single code path on top of it. Addresses are
// IPv4 in network byte order; every call is blocking unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket_handle.h"

namespace net {

// 127.0.0.1.
std::uint32_t LoopbackAddr();

// Starts the sockets library (WSAStartup 2.2 on Windows, nothing elsewhere).
bool StartSockets();

Socket CreateTcpSocket();
// A datagram socket, for waking a thread that waits on sockets.
Socket CreateUdpSocket();

bool Bind(Socket socket, std::uint32_t addr, std::uint16_t port);
bool Listen(Socket socket, int backlog);
// The accepted socket is blocking whatever the listener is. peerAddr (network
// order) and peerPort (host order) may be null.
Socket Accept(Socket listener, std::uint32_t* peerAddr, std::uint16_t* peerPort = nullptr);
bool Connect(Socket socket, std::uint32_t addr, std::uint16_t port);

// Bytes received, 0 at the end of the stream, negative on failure.
int Recv(Socket socket, char* buffer, int length);
// Bytes sent, negative on failure. Never raises SIGPIPE.
int Send(Socket socket, const char* data, int length);
int SendTo(Socket socket, const char* data, int length, std::uint32_t addr, std::uint16_t port);

enum class ShutdownHow { Receive, Send, Both };
void Shutdown(Socket socket, ShutdownHow how);
void Close(Socket socket);

// The last socket error code (WSAGetLastError or errno).
int LastError();
// True for the codes that only say "try again" on a non-blocking socket or
// a connection the peer gave up before it was accepted.
bool IsTransientAcceptError(int error);
// True for the codes an accept fails with when its listener was closed.
bool IsClosedListenerError(int error);

bool SetBlocking(Socket socket, bool blocking);
bool SetNoDelay(Socket socket);
// A blocking receive on the socket fails once it has waited this long (at
// least 1 ms); 0 lets it wait for ever again. On Windows a receive that timed
// out leaves the connection unusable: only close it then.
bool SetReceiveTimeout(Socket socket, int timeoutMs);
// Keep-alive probes after a minute of silence, so a peer that vanished is
// found within about two minutes rather than the system's two hours.
void SetKeepAliveTimes(Socket socket);
// Lets a new listener bind while old connections of the port linger in
// TIME_WAIT. Does nothing on Windows, where the option would allow stealing
// a port that another program listens on.
void AllowPortReuse(Socket socket);

#ifdef __linux__
// Several listeners may bind one address and port, the system spreading new
// clients among them (SO_REUSEPORT), and an accepted socket keeps its
// listener's no-delay and keep-alive settings: set once on the listener, they
// cost nothing per client.
inline constexpr bool kListenersSharePort = true;
inline constexpr bool kAcceptedSocketsKeepTuning = true;
#else
inline constexpr bool kListenersSharePort = false;
inline constexpr bool kAcceptedSocketsKeepTuning = false;
#endif
// Joins the socket, before it binds, to the listeners that share its port;
// false where kListenersSharePort is false.
bool SharePort(Socket socket);
// The local port a socket is bound to, or 0.
int LocalPort(Socket socket);

// Waits until a socket is readable; false on time-out or failure. -1 waits forever.
bool WaitReadable(Socket socket, int timeoutMs);

}  // namespace net
