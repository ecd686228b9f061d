// What one accepted connection's pump threads share.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/net.h"
#include "relay/byte_map.h"
#include "relay/connection_ending.h"
#include "relay/start_request.h"
#include "seal/link_halves.h"

class RelayEngine;

// The two sockets of a connection and its account. Both pumps' records point
// to it, and the pump that lets go last closes both and reports the end: each
// socket is closed exactly once, and never while the other pump may still use
// it (a closed handle number may already belong to a new connection).
struct ConnectionSockets {
    ConnectionSockets(net::Socket client, RelayEngine& owner, const ConnectionReport& connection)
        : hClientSocket(client), ending(connection), m_owner(owner) {}
    ~ConnectionSockets();
    ConnectionSockets(const ConnectionSockets&) = delete;
    ConnectionSockets& operator=(const ConnectionSockets&) = delete;

    // Ends both directions at once; wakes the other pump.
    void ShutdownBoth() const {
        if (hServerSocket != net::kInvalidSocket) {
            net::Shutdown(hServerSocket, net::ShutdownHow::Both);
        }
        net::Shutdown(hClientSocket, net::ShutdownHow::Both);
    }

    const net::Socket hClientSocket;                  // the accepted client
    net::Socket hServerSocket = net::kInvalidSocket;  // the target, once connected
    ConnectionEnding ending;
    // A sealed link's halves, once its handshake is done: set by the client
    // pump before the server pump begins. Each pump uses only its own half.
    std::optional<seal::LinkHalves> link;

  private:
    RelayEngine& m_owner;
};

// Which of a connection's sockets carries the sealed link. A Client-mode
// run with a key seals toward its target, as the handshake's initiator; a
// Server-mode run is the responder to its clients.
enum class SealedSide { None, Target, Client };

// The record a pump thread is begun with. The accept thread allocates the
// client pump's; the client pump copies it for the server pump. Each thread's
// entry function frees its own.
struct RelayConnection {
    RelayEngine* pOwner = nullptr;
    std::shared_ptr<ConnectionSockets> pSockets;
    std::size_t nChunkSize = kClassicChunkSize;  // bytes per receive, fixed for the connection
    // The mode of the run that admitted it. A later Start (a reload, or the
    // window's Stop and Start with the other box ticked) once switched the
    // map under live streams and garbled them; now it applies to new clients.
    EncodeMode nEncodeMode = EncodeMode::None;
    SealedSide nSealedSide = SealedSide::None;
    std::shared_ptr<const seal::LinkKey> pLinkKey;  // set when nSealedSide is not None
};
