// Client-side checks over one relayed connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

// Sends bytes of a reproducible stream while reading the echo back, and
// compares every byte. False on a wrong byte, an early end or a stall of
// more than receiveTimeoutMs.
bool EchoRoundTrip(int fd, std::size_t bytes, std::uint32_t seed, int receiveTimeoutMs = 10000);

// Polls until the condition holds, at most timeout.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
