#include "relay/link_handshake.h"

#include "platform/net.h"
#include "relay/link_close_reason.h"
#include "relay/send_all.h"

namespace {

using Clock = std::chrono::steady_clock;

// Enough for both handshake messages with the first transport message.
constexpr int kHandshakeReadSize = 4096;

// Milliseconds left, at least 1 so the wait still times out; 0 when past.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One receive that gives up at the deadline: bytes received, 0 at the end of
// the stream, negative on failure or time-out.
int ReceiveBefore(net::Socket socket, Clock::time_point deadline, char* buffer, int size) {
    const int left = MillisecondsLeft(deadline);
    if (left == 0 || !net::SetReceiveTimeout(socket, left)) {
        return -1;
    }
    return net::Recv(socket, buffer, size);
}

}  // namespace

bool SendLinkOutput(net::Socket socket, seal::LinkSealer& link) {
    const std::vector<std::uint8_t> output = link.TakeOutput();
    const int size = static_cast<int>(output.size());
    return SendAll(socket, reinterpret_cast<const char*>(output.data()), size) == size;
}

std::optional<LinkFailure> DriveHandshake(net::Socket socket, seal::LinkSealer& link,
                                          bool (*done)(const seal::LinkSealer&),
                                          Clock::time_point deadline,
                                          std::vector<std::uint8_t>& plain) {
    std::optional<LinkFailure> failure;
    char buffer[kHandshakeReadSize];
    while (!failure && !done(link)) {
        if (!SendLinkOutput(socket, link)) {
            failure = LinkFailure{CloseReason::Reset, {net::LastError(), std::system_category()}};
            break;
        }
        const int received = ReceiveBefore(socket, deadline, buffer, sizeof buffer);
        std::optional<seal::LinkError> error;
        if (received > 0) {
            error = link.Receive(
                {reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(received)},
                plain);
        } else if (received == 0) {
            error = link.PeerClosed();
            if (!error) {
                // The initiator left before its first message: nothing to relay.
                failure = LinkFailure{CloseReason::ClientClosed, {}};
                break;
            }
        } else if (MillisecondsLeft(deadline) == 0) {
            error = seal::LinkError::handshake_failed;  // too slow, or stalled on purpose
        } else {
            failure = LinkFailure{CloseReason::Reset, {net::LastError(), std::system_category()}};
        }
        if (error) {
            failure = LinkFailure{CloseReasonFor(*error), {}};
        }
    }
    // The pumps wait for ever, as without a seal.
    net::SetReceiveTimeout(socket, 0);
    return failure;
}

void DrainUntil(net::Socket socket, Clock::time_point deadline) {
    char buffer[kHandshakeReadSize];
    while (ReceiveBefore(socket, deadline, buffer, sizeof buffer) > 0) {
    }
}
