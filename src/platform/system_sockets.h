// The system's socket headers and the few names that differ between them.
// Only the platform layer's own sources include this.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace net {

// Keep-alive: the first probe after this much silence, then one per interval.
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 6;

#ifdef _WIN32
using AddressLength = int;
constexpr int kSendFlags = 0;
#else
using AddressLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a reset peer must not raise SIGPIPE
#endif

}  // namespace net
