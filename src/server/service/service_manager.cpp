#include "server/service/service_manager.h"

#ifdef __linux__
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#endif

// The documented datagram protocol (sd_notify(3)) rather than libsystemd:
// that library brings seven more shared libraries (libgcrypt, liblzma, ...),
// and loading them lengthens the start-up time in which no code of the relay
// runs yet and a signal still ends it.
void NotifyServiceManager(const char* state) {
#ifdef __linux__
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || (path[0] != '/' && path[0] != '@')) {
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, path, length);
    if (path[0] == '@') {
        address.sun_path[0] = '\0';  // the abstract namespace
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    // A failure changes nothing for the relay: systemd, if it waits, times out.
    sendto(fd, state, std::strlen(state), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
    close(fd);
#else
    (void)state;
#endif
}
