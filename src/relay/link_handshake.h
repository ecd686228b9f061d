// A sealed link's handshake over a blocking socket, for the threaded
// engine's pump and refusal threads. The sealer has no clock and the socket
// no deadline of its own, so each receive waits only for what is left of
// the handshake's time, and the socket waits for ever again afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/socket_handle.h"
#include "relay/relay_events.h"
#include "seal/link_sealer.h"

struct LinkFailure {
    CloseReason reason;
    std::error_code error;  // the socket's, when it failed under the handshake
};

// Sends what the link has queued and feeds it what arrives until `done`
// holds for it or the deadline passes; what is queued when `done` first
// holds is left for the caller to send. Plain bytes that came along are
// appended to `plain`.
std::optional<LinkFailure> DriveHandshake(net::Socket socket, seal::LinkSealer& link,
                                          bool (*done)(const seal::LinkSealer&),
                                          std::chrono::steady_clock::time_point deadline,
                                          std::vector<std::uint8_t>& plain);

// Sends everything the link has queued; false when the socket failed.
bool SendLinkOutput(net::Socket socket, seal::LinkSealer& link);

// Receives and drops whatever arrives until the peer ends its stream or
// fails, or the deadline passes, so a peer's last message is read rather
// than answered with a reset that may destroy what we sent it.
void DrainUntil(net::Socket socket, std::chrono::steady_clock::time_point deadline);
