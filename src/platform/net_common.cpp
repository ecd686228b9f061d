// The socket calls that read the same on every platform.
#include "platform/net.h"
#include "platform/system_sockets.h"

namespace net {
namespace {

sockaddr_in MakeAddress(std::uint32_t addr, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = addr;
    address.sin_port = htons(port);
    return address;
}

}  // namespace

std::uint32_t LoopbackAddr() {
    return htonl(INADDR_LOOPBACK);
}

bool Bind(Socket socket, std::uint32_t addr, std::uint16_t port) {
    const sockaddr_in address = MakeAddress(addr, port);
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(Socket socket, int backlog) {
    return ::listen(socket, backlog) == 0;
}

bool Connect(Socket socket, std::uint32_t addr, std::uint16_t port) {
    const sockaddr_in address = MakeAddress(addr, port);
    return ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

int SendTo(Socket socket, const char* data, int length, std::uint32_t addr, std::uint16_t port) {
    const sockaddr_in address = MakeAddress(addr, port);
    return static_cast<int>(::sendto(socket, data, static_cast<std::size_t>(length), kSendFlags,
                                     reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int LocalPort(Socket socket) {
    sockaddr_in address{};
    AddressLength length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

}  // namespace net
