// Loopback TCP for the relay tests: the support library's socket, echo
// target and free port. Everything binds and connects on 127.0.0.1 only.
#pragma once

#include <string>

#include "loopback_server.h"
#include "pacing.h"
#include "test_socket.h"

namespace vorlane::gui {

using testing_support::Connect;
using testing_support::EchoServer;
using testing_support::FreePort;
using testing_support::ListenAt;
using testing_support::TestSocket;

class WinsockSession {
  public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

// Sends `payload` on `client` and reads as many bytes back. Returns
// the bytes that came back (equal to `payload` when the relay works).
std::string RoundTrip(TestSocket& client, const std::string& payload);

}  // namespace vorlane::gui
