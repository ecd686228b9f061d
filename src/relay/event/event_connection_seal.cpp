// An event connection's sealed link: the handshake on the side toward the
// other relay, then each chunk sealed on its way there and opened on its way
// back. Any failure ends the connection at once, before a byte of it moves on.
#include <asio/write.hpp>

#include "relay/event/event_connection.h"
#include "relay/link_close_reason.h"

namespace {

using Clock = std::chrono::steady_clock;

seal::Bytes BytesOf(const char* data, std::size_t size) {
    return {reinterpret_cast<const std::uint8_t*>(data), size};
}

}  // namespace

// The initiator's first message is queued at once and goes out now; the
// responder waits for it. Either way the sealed side is read until the link
// is open; in Client mode the client waits in its socket meanwhile.
void EventConnection::StartHandshake(seal::Role role) {
    m_sealer.emplace(role, *m_run->settings.linkKey);
    m_handshakeStarted = Clock::now();
    Direction& inbound = role == seal::Role::responder ? m_up : m_down;
    inbound.opens = true;
    ArmQuietTimer();
    m_sealer->TakeOutput(inbound.out);
    if (inbound.out.empty()) {
        WaitReadable(inbound);
    } else {
        WriteOut(inbound, *inbound.from);
    }
}

void EventConnection::SealedChunk(Direction& direction, std::size_t received) {
    if (direction.opens) {
        OpenChunk(direction, received);
        return;
    }
    direction.lastChunkFull = received == m_run->settings.chunkSize;
    const auto error = m_sealer->Seal(BytesOf(direction.buffer.get(), received));
    ReturnBuffer(direction);
    if (error) {
        LinkFailed(*error);
        return;
    }
    m_sealer->TakeOutput(direction.out);
    CountPlain(direction, received);
    m_lastActivity = Clock::now();
    WriteOut(direction, *direction.to);
}

// Bytes from the sealed side: handshake messages until the link is open,
// then the plain bytes of each message that authenticates.
void EventConnection::OpenChunk(Direction& direction, std::size_t received) {
    direction.lastChunkFull = received == m_run->settings.chunkSize;
    const bool wasOpen = m_sealer->Open();
    direction.out.clear();
    const auto error = m_sealer->Receive(BytesOf(direction.buffer.get(), received), direction.out);
    ReturnBuffer(direction);
    if (error) {
        LinkFailed(*error);
        return;
    }
    m_lastActivity = Clock::now();
    if (!wasOpen) {
        HandshakeStep(direction);
        return;
    }
    if (direction.out.empty()) {
        // Only part of a message yet.
        WaitReadable(direction);
        return;
    }
    CountPlain(direction, direction.out.size());
    WriteOut(direction, *direction.to);
}

// Plain bytes that came with the opening message stay in direction.out until
// the pumps start; whatever the sealer answers goes back to the sealed side.
void EventConnection::HandshakeStep(Direction& direction) {
    if (m_sealer->Open()) {
        LinkOpened();
        return;
    }
    // A handshake reply: the peer answers it, so nothing plain is held yet.
    m_sealer->TakeOutput(direction.out);
    if (direction.out.empty()) {
        WaitReadable(direction);
    } else {
        WriteOut(direction, *direction.from);
    }
}

void EventConnection::LinkOpened() {
    if (m_run->settings.encode == EncodeMode::Server) {
        // Only now is the client known to hold the key: reach the target.
        m_clientSpoke = !m_up.out.empty();
        ArmQuietTimer();
        ReachTarget();
    } else if (m_spare) {
        Park();
    } else {
        StartSealedPumps();
    }
}

// Both directions run once the link is open and the target answered. Plain
// bytes held from the handshake go first, as does (Client mode) the
// initiator's first transport message. The write toward the client starts
// first: a far relay that refused us closes at once, and its refusal text
// must reach our client before that close can end the connection.
void EventConnection::StartSealedPumps() {
    Direction& inbound = m_up.opens ? m_up : m_down;
    Direction& outbound = m_up.opens ? m_down : m_up;
    if (inbound.out.empty()) {
        ReceiveChunk(inbound);
    } else {
        CountPlain(inbound, inbound.out.size());
        WriteOut(inbound, *inbound.to);
    }
    if (m_closed) {
        return;
    }
    m_sealer->TakeOutput(outbound.out);
    if (outbound.out.empty()) {
        ReceiveChunk(outbound);
    } else {
        WriteOut(outbound, *outbound.to);
    }
}

// The sealed side's end is clean only after the peer's end marker. The plain
// side's end goes on as the marker and then a half-close: a bare end of
// stream could be anyone's. This direction writes one thing at a time, so
// nothing of it is in flight now and the marker follows all its data.
void EventConnection::SealedEndOfStream(Direction& direction) {
    if (direction.opens) {
        if (const auto error = m_sealer->PeerClosed()) {
            LinkFailed(*error);
            return;
        }
        if (!m_sealer->Open()) {
            // The far relay left before its first message: the target was
            // never reached and nothing is lost.
            Close(CloseReason::ClientClosed);
            return;
        }
        EndOfStream(direction);
        return;
    }
    if (const auto error = m_sealer->SealEnd()) {
        LinkFailed(*error);
        return;
    }
    m_sealer->TakeOutput(direction.out);
    asio::async_write(*direction.to, asio::buffer(direction.out),
                      [self = shared_from_this(), &direction](std::error_code ec, std::size_t) {
                          if (self->m_closed) {
                              return;
                          }
                          if (ec) {
                              self->Close(CloseReason::Reset, ec);
                              return;
                          }
                          self->EndOfStream(direction);
                      });
}

// One write of what the direction holds; then the direction reads again,
// at once after a full chunk (more is usually waiting).
void EventConnection::WriteOut(Direction& direction, tcp::socket& to) {
    asio::async_write(to, asio::buffer(direction.out),
                      [self = shared_from_this(), &direction](std::error_code ec, std::size_t) {
                          self->ChunkWritten(direction, ec);
                      });
}

void EventConnection::LinkFailed(seal::LinkError error) {
    Close(CloseReasonFor(error));
}
