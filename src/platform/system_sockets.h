// The system's socket headers and the few names that differ between them.
// Only the platform layer's own sources include this.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace net {

#ifdef _WIN32
using AddressLength = int;
constexpr int kSendFlags = 0;
#else
using AddressLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a reset peer must not raise SIGPIPE
#endif

}  // namespace net
