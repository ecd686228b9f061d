// What an engine reports about its run and its clients, typed: the front end
// decides the wording (the window's texts, log lines, metrics). Calls come
// from the engine's threads, several at once; each must not call back into
// the engine, and all but the window's must return quickly.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "platform/ip_address.h"
#include "relay/byte_map.h"
#include "relay/run_state.h"
#include "relay/start_checks.h"

enum class CloseReason {
    ClientClosed,      // both directions ended, the client's last
    TargetClosed,      // both directions ended, the target's last
    Reset,             // a receive or send failed
    IdleTimeout,       // no byte either way for the idle time-out
    ConnectTimeout,    // the target did not answer in time
    ConnectFailed,     // every address of the target refused or failed
    LookupFailed,      // the target name did not resolve
    Stopped,           // the engine closed it
    FirstByteTimeout,  // no byte either way since it was accepted, for the first-byte time-out
    HandshakeFailed,   // the sealed link's handshake failed or did not end in time
    BadMessage,        // a sealed message did not authenticate
};

// Why a client was closed at once, without reaching the target.
enum class RefusalReason {
    LimitReached,  // the relay shares were all taken: it got the refusal text
    NotAllowed,    // its address is in no allowed range
    AddressLimit,  // its address (an IPv6 /64) has its most clients: it got the refusal text
};

struct PeerAddress {
    net::IpAddress address;
    std::uint16_t port = 0;
};

struct ListenStarted {
    PeerAddress bound;   // as the system bound it (port 0 asked: the port it picked)
    std::string target;  // as given, trimmed
    int targetPort = 0;
    EncodeMode mode = EncodeMode::None;
    int limit = 0;
    bool sealed = false;  // a key seals the link in place of the byte map
};

// The step a listener's start failed in. Thread: the run was announced
// (Listening) but its accept thread could not begin; the run is over.
enum class ListenStep { Socket, Bind, Listen, Thread };

// A Start that did not begin listening: either refused before anything was
// opened, or a system call that failed.
struct StartFailure {
    std::optional<StartRefusal> refusal;
    ListenStep step = ListenStep::Socket;  // when not refused
    std::error_code error;
};

struct ConnectionReport {
    std::uint64_t id = 0;  // counts up from 1 over the engine's life
    PeerAddress client;
    PeerAddress target;  // the address that answered; empty until one did
};

struct ConnectionEnd {
    ConnectionReport connection;
    CloseReason reason = CloseReason::Stopped;
    std::error_code error;       // the system's error behind Reset or ConnectFailed, if any
    std::int64_t bytesUp = 0;    // client to target
    std::int64_t bytesDown = 0;  // target to client
    std::chrono::milliseconds duration{0};
};

class RelayEvents {
  public:
    virtual ~RelayEvents() = default;

    virtual void Listening(const ListenStarted& started) = 0;
    virtual void StartFailed(const StartFailure& failure) = 0;
    // A target name that does not resolve at start; each client looks it up again.
    virtual void TargetUnresolved(const std::string& host, std::error_code error) = 0;
    virtual void RunStateChanged(RunState state) = 0;

    // A client admitted; its target is being reached.
    virtual void ConnectionAccepted(const ConnectionReport& connection) = 0;
    // The target answered; bytes flow.
    virtual void ConnectionOpened(const ConnectionReport& connection) = 0;
    // Every accepted connection ends with exactly one of these.
    virtual void ConnectionClosed(const ConnectionEnd& end) = 0;
    virtual void ClientRefused(const PeerAddress& client, RefusalReason reason) = 0;
    virtual void AcceptFailed(std::error_code error) = 0;
};

// Lower-case names, as log lines and metric labels spell them.
const char* CloseReasonName(CloseReason reason);
const char* RefusalReasonName(RefusalReason reason);
const char* ListenStepName(ListenStep step);  // "socket", "bind", "listen", "thread"
