// How a sealed link's failure is reported as a connection's end, and how
// long either end waits for a handshake: the sealer itself has no clock.
#pragma once

#include <chrono>

#include "relay/relay_events.h"
#include "seal/link_error.h"

// A peer that opens a connection and then stalls its handshake holds a place
// and a socket; ten seconds is ample for a handshake over any real network.
inline constexpr std::chrono::seconds kHandshakeDeadline{10};

inline CloseReason CloseReasonFor(seal::LinkError error) {
    switch (error) {
        case seal::LinkError::handshake_failed:
            return CloseReason::HandshakeFailed;
        case seal::LinkError::bad_message:
            return CloseReason::BadMessage;
        case seal::LinkError::nonce_exhausted:
            // Our own side ran out of nonces: the link cannot go on, and the
            // peer did nothing wrong.
            return CloseReason::Reset;
    }
    return CloseReason::Reset;
}
