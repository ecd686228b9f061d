#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/host_lookup.h"

namespace net {

std::uint32_t LookupHostIPv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return 0;
    }
    std::uint32_t addr = 0;
    if (found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in)) {
        addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    }
    ::freeaddrinfo(found);
    return addr;
}

}  // namespace net
