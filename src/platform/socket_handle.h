// The socket handle type alone, so headers can hold a socket without pulling
// in the system's socket headers.
#pragma once

#include <cstdint>

namespace net {

#ifdef _WIN32
using Socket = std::uintptr_t;  // SOCKET
constexpr Socket kInvalidSocket = ~Socket{0};
#else
using Socket = int;
constexpr Socket kInvalidSocket = -1;
#endif

}  // namespace net
