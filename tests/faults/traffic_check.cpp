#include "traffic_check.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "byte_stream.h"
#include "test_socket.h"

bool EchoRoundTrip(int fd, std::size_t bytes, std::uint32_t seed, int receiveTimeoutMs) {
    testing_support::SetReceiveTimeout(fd, receiveTimeoutMs);
    std::atomic<bool> sentAll{false};
    std::thread sender([&] {
        ByteStream stream(seed, 0);
        std::vector<std::uint8_t> chunk(8192);
        std::size_t left = bytes;
        while (left > 0) {
            std::size_t length = std::min(left, chunk.size());
            stream.Fill(chunk.data(), length);
            if (!testing_support::SendAll(fd, chunk.data(), length)) {
                return;
            }
            left -= length;
        }
        sentAll = true;
    });
    ByteStream expected(seed, 0);
    std::vector<std::uint8_t> buffer(16384);
    std::size_t received = 0;
    bool good = true;
    while (received < bytes) {
        ssize_t got = ::recv(fd, buffer.data(), std::min(buffer.size(), bytes - received), 0);
        if (got <= 0) {
            good = false;
            break;
        }
        if (expected.Check(buffer.data(), static_cast<std::size_t>(got)) !=
            static_cast<std::size_t>(got)) {
            good = false;
            break;
        }
        received += static_cast<std::size_t>(got);
    }
    if (!good) {
        // Wakes a sender blocked on a relay that stopped reading.
        ::shutdown(fd, SHUT_RDWR);
    }
    sender.join();
    return good && sentAll;
}
