// A refused client of a sealed Server-mode run gets its refusal sealed: the
// far relay that sent it passes the text on to its own client in plain. That
// takes the client's first handshake message, so a refusal is bounded in time
// and in number: a flood of clients past the limit is only closed.
#pragma once

#include <asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "seal/link_key.h"

// Each refusal still waiting for the client's handshake holds a socket, a
// timer and a key exchange: past this many at once, clients are just closed.
inline constexpr int kMaxSealedRefusals = 64;
// Ample for a first handshake message, which comes with the connect.
inline constexpr std::chrono::seconds kSealedRefusalDeadline{5};

// Answers the client's handshake with the reply and `text` sealed, ends the
// stream, and closes once the client has (or at the deadline). `inProgress`
// counts the refusals under way, kept by whoever outlives them all.
void RefuseSealed(asio::ip::tcp::socket client, const seal::LinkKey& key, std::string text,
                  const std::shared_ptr<std::atomic<int>>& inProgress);
