// One client of the event engine and its target: both sockets, both
// addresses, the bytes each way, when it began and when bytes last moved.
// Everything happens on the connection's worker thread; pending operations
// hold the connection alive, and Close ends them all.
//
// Road of a connection: look up the target (a name, for every connection;
// an address needs none), try each address in turn until one connects within
// the connect time-out, then relay both directions. Until the target answers
// the client is watched: one that leaves without a byte ends the connection at
// once. The end of one direction's stream is passed on as a half-close and the
// other direction goes on; the connection ends when both have ended, on an
// error, on the first-byte or idle time-out, or when the engine closes it.
//
// With a link key the side toward the other relay is sealed (the target in
// Client mode, the client in Server mode) instead of byte-mapped. In Client
// mode the handshake runs once the target answers, and the client is read
// only when the link is open. In Server mode the client's handshake comes
// first and the target is reached only once the link is open, so a replayed
// handshake never reaches it. Counts are of plain bytes, the same at both
// relays of a pair.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/ip_address.h"
#include "relay/byte_map.h"
#include "relay/event/buffer_pool.h"
#include "relay/event/event_connection_host.h"
#include "relay/event/event_run.h"
#include "relay/event/event_worker.h"
#include "relay/event/lookup_pool.h"
#include "relay/relay_events.h"
#include "seal/link_sealer.h"
#include "stats/traffic_display.h"

class EventConnection : public std::enable_shared_from_this<EventConnection> {
  public:
    using tcp = asio::ip::tcp;

    // The client already holds both its shares: the engine took them when it
    // admitted the client, so a burst of clients cannot pass the limit.
    // `target` is a socket opened for the target (or a closed one).
    EventConnection(EventConnectionHost& host, EventWorker& worker,
                    std::shared_ptr<const EventRun> run, std::uint64_t id, tcp::socket client,
                    const tcp::endpoint& clientEndpoint, tcp::socket target);
    // A sealed link opened ahead in Client mode, with no client yet: it
    // connects, handshakes and waits on its worker's spare list until a
    // client takes it (AdoptClient) or it has waited kSpareLife. Until then
    // it holds no share, reports nothing and closes without a word.
    EventConnection(EventConnectionHost& host, EventWorker& worker,
                    std::shared_ptr<const EventRun> run);
    ~EventConnection();
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;

    // On the worker thread, once: registers with the worker and connects.
    void Start();
    // Ends both sockets and every pending operation; the first reason counts.
    void Close(CloseReason reason, std::error_code error = {});

    // A spare link whose handshake is done and which waits for a client.
    bool ReadyForClient() const { return m_parked && !m_closed; }
    const EventRun* Run() const { return m_run.get(); }
    // Gives a ready spare link its client, which holds both its shares
    // already, and relays from now on as any connection.
    void AdoptClient(tcp::socket client, const tcp::endpoint& clientEndpoint, std::uint64_t id);

  private:
    // Start refused any other target port.
    std::uint16_t TargetPort() const {
        return static_cast<std::uint16_t>(m_run->settings.targetPort);
    }

    // One direction: receives on `from`, maps, sends on `to`.
    struct Direction {
        Direction(tcp::socket* source, tcp::socket* destination, TrafficDirection counted,
                  bool fromTheClient)
            : from(source), to(destination), traffic(counted), fromClient(fromTheClient) {}
        tcp::socket* from;
        tcp::socket* to;
        TrafficDirection traffic;
        bool fromClient;
        bool open = true;
        bool lastChunkFull = false;  // the last receive filled the buffer
        std::int64_t bytes = 0;
        BufferPool::Buffer buffer;  // only while a chunk is in flight
        // A sealed link's: whether `from` is the sealed side, and the bytes
        // this direction writes next (kept for reuse).
        bool opens = false;
        std::vector<std::uint8_t> out;
    };

    void TuneClient();
    void LookUpTarget();
    void OnLookedUp(std::error_code ec, std::vector<tcp::endpoint> found);
    void ConnectTo(const std::vector<tcp::endpoint>& addresses);
    void ConnectTo(const tcp::endpoint& address);
    void OnConnectDone(std::error_code ec, const tcp::endpoint& answered);
    void ArmConnectTimer();
    void Connected();
    void WatchClientLeaving();
    void OnClientReadableWhileConnecting();
    void ArmQuietTimer();
    void OnQuietTimer();
    bool NothingMoved() const { return !m_clientSpoke && m_up.bytes == 0 && m_down.bytes == 0; }

    void WaitReadable(Direction& direction);
    void ReceiveChunk(Direction& direction);
    // Totals count the plain bytes, whichever side of the relay they are on.
    void CountPlain(Direction& direction, std::size_t bytes);
    // A chunk's write ended: on to the direction's next read, or the close.
    void ChunkWritten(Direction& direction, std::error_code ec);
    void EndOfStream(Direction& direction);
    void ReturnBuffer(Direction& direction);

    // The sealed link (event_connection_seal.cpp).
    bool Handshaking() const { return m_sealer && !m_sealer->Open(); }
    void StartHandshake(seal::Role role);
    void SealedChunk(Direction& direction, std::size_t received);
    void OpenChunk(Direction& direction, std::size_t received);
    void HandshakeStep(Direction& direction);
    void LinkOpened();
    void StartSealedPumps();
    void SealedEndOfStream(Direction& direction);
    void WriteOut(Direction& direction, tcp::socket& to);
    void LinkFailed(seal::LinkError error);
    // A spare link's handshake is done: it waits for a client, watching the
    // far relay meanwhile (any byte or end from it makes the link useless).
    void Park();
    // Looks the target up, or connects to its address.
    void ReachTarget();

    EventConnectionHost& m_host;
    EventWorker& m_worker;
    std::shared_ptr<const EventRun> m_run;
    tcp::socket m_client;
    tcp::socket m_target;
    LookupPool::Pending m_lookup;  // while the target name is looked up
    asio::steady_timer m_connectTimer;
    asio::steady_timer m_quietTimer;           // the first-byte and the idle time-outs
    Direction m_up;                            // client to target
    Direction m_down;                          // target to client
    std::optional<seal::LinkSealer> m_sealer;  // with a link key, in Client or Server mode
    std::chrono::steady_clock::time_point m_handshakeStarted;

    ConnectionReport m_report;  // its id, the client, and the target address that answered
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_lastActivity;
    int m_shares = 2;  // relay shares held: one per direction still open
    bool m_connectTimedOut = false;
    bool m_connected = false;       // the target answered
    bool m_watchingClient = false;  // a wait for the client to leave is pending
    bool m_clientSpoke = false;     // bytes wait in the client's socket for the target
    bool m_quietTimerArmed = false;
    bool m_closed = false;
    bool m_spare = false;   // opened ahead and not yet taken by a client
    bool m_parked = false;  // a spare waiting for its client
    std::chrono::steady_clock::time_point m_parkedAt;
};
