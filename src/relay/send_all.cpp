#include "relay/send_all.h"

#include "platform/net.h"

int SendAll(net::Socket socket, const char* data, int length) {
    int sent = 0;
    while (sent < length) {
        const int result = net::Send(socket, data + sent, length - sent);
        if (result <= 0) {
            break;
        }
        sent += result;
    }
    return sent;
}
