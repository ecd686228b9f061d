// Client-side checks over one relayed connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wait.h"

// Sends bytes of a reproducible stream while reading the echo back, and
// compares every byte. False on a wrong byte, an early end or a stall of
// more than receiveTimeoutMs.
bool EchoRoundTrip(int fd, std::size_t bytes, std::uint32_t seed, int receiveTimeoutMs = 10000);
