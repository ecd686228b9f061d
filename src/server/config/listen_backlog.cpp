#include "server/config/listen_backlog.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

int HeadlessListenBacklog() {
    return SOMAXCONN;
}
