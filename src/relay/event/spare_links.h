// Sealed links a Client-mode relay opens ahead of its clients while they come
// one after another: a client then finds the handshake done and its first
// bytes go out at once, without the two key exchanges in a row that opening a
// link costs. The far relay reaches its target only when a link's first
// message comes, so a link opened ahead and never used costs it nothing but
// a place; it ends with an orderly close the far relay logs as client_closed.
#pragma once

#include <chrono>
#include <cstddef>

#include "relay/link_close_reason.h"

// Ready or opening at most, per worker and in all: each holds a place of the
// far relay's limit and of its cap for our address.
constexpr std::size_t kSpareLinks = 2;
constexpr int kSpareLinksInAll = 4;
// A spare waits this long for a client, then closes.
constexpr std::chrono::seconds kSpareLife{5};
// Spares are opened only while clients come closer together than this: a
// relay used now and then opens none.
constexpr std::chrono::seconds kSpareDemand{1};

// The far relay gives up on a link whose first message is late.
static_assert(kSpareLife < kHandshakeDeadline, "a spare must close before the far relay drops it");
