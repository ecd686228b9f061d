#include "relay/relay_events.h"

const char* CloseReasonName(CloseReason reason) {
    switch (reason) {
        case CloseReason::ClientClosed:
            return "client_closed";
        case CloseReason::TargetClosed:
            return "target_closed";
        case CloseReason::Reset:
            return "reset";
        case CloseReason::IdleTimeout:
            return "idle_timeout";
        case CloseReason::ConnectTimeout:
            return "connect_timeout";
        case CloseReason::ConnectFailed:
            return "connect_failed";
        case CloseReason::LookupFailed:
            return "lookup_failed";
        case CloseReason::Stopped:
            return "stopped";
        case CloseReason::FirstByteTimeout:
            return "first_byte_timeout";
        case CloseReason::HandshakeFailed:
            return "handshake_failed";
        case CloseReason::BadMessage:
            return "bad_message";
    }
    return "unknown";
}

const char* RefusalReasonName(RefusalReason reason) {
    switch (reason) {
        case RefusalReason::LimitReached:
            return "limit";
        case RefusalReason::NotAllowed:
            return "not_allowed";
        case RefusalReason::AddressLimit:
            return "address_limit";
    }
    return "unknown";
}

const char* ListenStepName(ListenStep step) {
    switch (step) {
        case ListenStep::Socket:
            return "socket";
        case ListenStep::Bind:
            return "bind";
        case ListenStep::Listen:
            return "listen";
        case ListenStep::Thread:
            return "thread";
    }
    return "unknown";
}
