// A listening run's settings: the one shape they take from a front end (the
// window's fields, or the headless relay's command line and config file) to
// the engines and, through the event engine's run, to every connection.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ip_address.h"
#include "relay/byte_map.h"
#include "seal/link_key.h"
#include "settings/setting_keys.h"

// Bytes per receive of the window's runs, and of the threaded engine's by default.
inline constexpr std::size_t kClassicChunkSize = 2048;

struct StartRequest {
    EncodeMode encode = EncodeMode::None;  // boxes EncodeClient/EncodeServer; Client wins
    std::string targetText;                // target as typed, before trimming
    int targetPort = 0;                    // 1 to 65535; Start refuses others
    int connectionLimit = 0;               // compared with the pump-thread count
    int localPort = 0;                     // 0 to 65535 (0: the system picks); Start refuses others
    int backlog = 0;             // the window listens with 0, the headless relay with SOMAXCONN
    net::IpAddress bindAddress;  // address to listen on; unspecified is any (both families
                                 // where the engine can)
    std::size_t chunkSize = kClassicChunkSize;  // bytes per receive
    std::vector<net::IpRange> allowFrom;        // empty admits every client
    // The event engine only: 0 leaves the wait for a target to the system, and
    // keeps a quiet connection for ever.
    std::chrono::milliseconds connectTimeout{0};
    std::chrono::milliseconds idleTimeout{0};
    // The event engine only: 0 keeps a connection on which nothing has moved
    // yet for ever, and admits any number of clients from one address.
    std::chrono::milliseconds firstByteTimeout{0};
    int clientsPerAddress = 0;  // clients (not shares) per IPv4 address or IPv6 /64
    // The sealed link's key, when the settings give one: Client mode then
    // seals toward the target and Server mode toward the client, in place of
    // the byte map. With mode None it is not used.
    std::optional<seal::LinkKey> linkKey;
    // The settings gave a key that is not one: Start refuses rather than run
    // without the seal the key asks for.
    bool linkKeyMalformed = false;
};

// Which key of the settings table fills which field: the headless relay reads
// and prints a run's settings through this list, by the field's type (a
// duration is whole seconds in the file). The encode mode, from two boxes or
// one option, is read apart.
using RunField =
    std::variant<int StartRequest::*, std::size_t StartRequest::*, std::string StartRequest::*,
                 std::chrono::milliseconds StartRequest::*, net::IpAddress StartRequest::*,
                 std::vector<net::IpRange> StartRequest::*>;
struct RunFieldKey {
    Setting setting;
    RunField field;
};
inline const std::array<RunFieldKey, 11> kRunFields = {{
    {Setting::LocalListenPort, &StartRequest::localPort},
    {Setting::ConnectionLimit, &StartRequest::connectionLimit},
    {Setting::DestAddr, &StartRequest::targetText},
    {Setting::DestPort, &StartRequest::targetPort},
    {Setting::BindAddr, &StartRequest::bindAddress},
    {Setting::AllowFrom, &StartRequest::allowFrom},
    {Setting::ClientsPerAddress, &StartRequest::clientsPerAddress},
    {Setting::Buffer, &StartRequest::chunkSize},
    {Setting::ConnectTimeout, &StartRequest::connectTimeout},
    {Setting::IdleTimeout, &StartRequest::idleTimeout},
    {Setting::FirstByteTimeout, &StartRequest::firstByteTimeout},
}};
