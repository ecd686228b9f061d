#include "loopback.h"

#include <winsock2.h>

#include <stdexcept>

namespace vorlane::gui {

WinsockSession::WinsockSession() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        throw std::runtime_error("WSAStartup failed");
    }
}

WinsockSession::~WinsockSession() {
    WSACleanup();
}

std::string RoundTrip(TestSocket& client, const std::string& payload) {
    if (!client.Send(payload)) {
        return {};
    }
    return client.Read(payload.size(), static_cast<int>(kWaitLimit.count()));
}

}  // namespace vorlane::gui
