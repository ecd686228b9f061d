// The benchmark's sockets: the tests' own (tests/support), with the blocking
// calls made to throw, so that a stuck relay fails a measurement instead of
// hanging the run.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "test_socket.h"

namespace bench {

// Owns one descriptor of any kind (on Linux the test socket closes whatever it holds).
using Socket = testing_support::TestSocket;

// Connects to 127.0.0.1:port with TCP_NODELAY and send/receive time-outs.
// Throws on failure.
Socket ConnectLoopback(uint16_t port, std::chrono::seconds io_timeout);

// Tries one connect; true when something accepts on the port.
bool Accepts(uint16_t port);

// Polls until the port accepts or the budget is spent.
bool WaitUntilAccepting(uint16_t port, std::chrono::milliseconds budget);

// A port that was free on 127.0.0.1 a moment ago. Throws when there is none.
uint16_t PickFreePort();

// Both throw on error, time-out or end of stream.
void SendAll(int fd, const void* data, size_t length);
void ReceiveExactly(int fd, void* data, size_t length);

// One receive; returns the count (0 at end of stream), throws on error or time-out.
size_t ReceiveSome(int fd, void* data, size_t capacity);

}  // namespace bench
