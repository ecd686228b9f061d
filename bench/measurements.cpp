#include "measurements.h"

#include <algorithm>
#include <exception>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "socket_util.h"
#include "stream_pattern.h"
#include "wire.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// Generous: a relay at 50 MB/s still moves each send in time.
constexpr std::chrono::seconds kIoTimeout(30);

// Large sends and receives, so the client costs as few calls as it can.
constexpr size_t kClientChunk = size_t{1} << 20;

double Seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

void SendHeader(int fd, char job, uint64_t count, bool byte_map) {
    auto header = wire::BulkHeader(job, count);
    if (byte_map) {
        std::transform(header.begin(), header.end(), header.begin(), wire::MapByte);
    }
    SendAll(fd, header.data(), header.size());
}

void Upload(int fd, uint64_t count, bool byte_map) {
    const StreamPattern& pattern = StreamPattern::Instance(byte_map);
    for (uint64_t sent = 0; sent < count;) {
        size_t contiguous = 0;
        const uint8_t* bytes = pattern.At(sent, &contiguous);
        const size_t length =
            static_cast<size_t>(std::min<uint64_t>({contiguous, kClientChunk, count - sent}));
        SendAll(fd, bytes, length);
        sent += length;
    }
    uint8_t verdict = 0;
    ReceiveExactly(fd, &verdict, 1);
    if ((byte_map ? wire::MapByte(verdict) : verdict) != wire::kUploadVerified) {
        throw std::runtime_error("target received corrupted bytes");
    }
}

void Download(int fd, uint64_t count, bool byte_map) {
    const StreamPattern& pattern = StreamPattern::Instance(byte_map);
    std::vector<uint8_t> buffer(kClientChunk);
    for (uint64_t received = 0; received < count;) {
        const size_t wanted =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), count - received));
        const size_t length = ReceiveSome(fd, buffer.data(), wanted);
        if (length == 0) {
            throw std::runtime_error("download ended early");
        }
        if (!pattern.Matches(received, buffer.data(), length)) {
            throw std::runtime_error("client received corrupted bytes");
        }
        received += length;
    }
}

void RunJob(int fd, char job, uint64_t count, bool byte_map) {
    SendHeader(fd, job, count, byte_map);
    if (job == wire::kUpload) {
        Upload(fd, count, byte_map);
    } else {
        Download(fd, count, byte_map);
    }
}

double TimeOneJob(uint16_t port, char job, uint64_t count, bool byte_map) {
    Socket socket = ConnectLoopback(port, kIoTimeout);
    const auto start = Clock::now();
    RunJob(socket.fd(), job, count, byte_map);
    return static_cast<double>(count) / Seconds(Clock::now() - start);
}

double Percentile(std::vector<double>& sorted_values, double fraction) {
    const auto index =
        static_cast<size_t>(fraction * static_cast<double>(sorted_values.size() - 1));
    return sorted_values[index];
}

void EchoOnce(int fd, const uint8_t* message, uint8_t* reply, size_t length) {
    SendAll(fd, message, length);
    ReceiveExactly(fd, reply, length);
}

}  // namespace

Socket OpenEcho(uint16_t port, bool byte_map) {
    Socket socket = ConnectLoopback(port, kIoTimeout);
    // The echo comes back through the map twice: as sent.
    const uint8_t job = byte_map ? wire::MapByte(wire::kEcho) : wire::kEcho;
    uint8_t echoed = 0;
    SendAll(socket.fd(), &job, 1);
    ReceiveExactly(socket.fd(), &echoed, 1);
    if (echoed != job) {
        throw std::runtime_error("connection answered with something else");
    }
    return socket;
}

double MeasureUpload(uint16_t port, uint64_t count, bool byte_map) {
    return TimeOneJob(port, wire::kUpload, count, byte_map);
}

double MeasureDownload(uint16_t port, uint64_t count, bool byte_map) {
    return TimeOneJob(port, wire::kDownload, count, byte_map);
}

double MeasureAggregate(uint16_t port, uint64_t total, int connections, bool byte_map) {
    const uint64_t each = total / static_cast<uint64_t>(connections);
    // Connect first, so only the transfers are timed.
    std::vector<Socket> sockets;
    sockets.reserve(static_cast<size_t>(connections));
    for (int i = 0; i < connections; ++i) {
        sockets.push_back(ConnectLoopback(port, kIoTimeout));
    }
    std::promise<void> go;
    const std::shared_future<void> started = go.get_future().share();
    std::mutex failure_lock;
    std::exception_ptr failure;
    std::vector<std::thread> workers;
    for (int i = 0; i < connections; ++i) {
        const char job = i % 2 == 0 ? wire::kUpload : wire::kDownload;
        workers.emplace_back([&, i, job] {
            started.wait();
            try {
                RunJob(sockets[static_cast<size_t>(i)].fd(), job, each, byte_map);
            } catch (const std::exception&) {
                const std::lock_guard<std::mutex> hold(failure_lock);
                failure = std::current_exception();
                // The others may wait on a relay that no longer serves them:
                // the socket time-out bounds that.
            }
        });
    }
    const auto start = Clock::now();
    go.set_value();
    for (std::thread& worker : workers) {
        worker.join();
    }
    const double elapsed = Seconds(Clock::now() - start);
    if (failure) {
        std::rethrow_exception(failure);
    }
    return static_cast<double>(each * static_cast<uint64_t>(connections)) / elapsed;
}

RoundTrips MeasurePingPong(uint16_t port, int round_trips, bool byte_map) {
    constexpr size_t kMessageLength = 64;
    constexpr int kWarmUp = 200;
    const Socket socket = OpenEcho(port, byte_map);

    uint8_t message[kMessageLength];
    uint8_t reply[kMessageLength];
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(round_trips));
    for (int i = 0; i < kWarmUp + round_trips; ++i) {
        std::fill(message, message + kMessageLength, static_cast<uint8_t>(i));
        const auto start = Clock::now();
        EchoOnce(socket.fd(), message, reply, kMessageLength);
        const double elapsed = Seconds(Clock::now() - start) * 1e6;
        if (!std::equal(message, message + kMessageLength, reply)) {
            throw std::runtime_error("echo came back changed");
        }
        if (i >= kWarmUp) {
            micros.push_back(elapsed);
        }
    }
    std::sort(micros.begin(), micros.end());
    return {Percentile(micros, 0.50), Percentile(micros, 0.99)};
}

double MeasureConnectRate(uint16_t port, std::chrono::milliseconds duration, int max_connections,
                          bool byte_map) {
    const auto start = Clock::now();
    const auto deadline = start + duration;
    int count = 0;
    while (count < max_connections && Clock::now() < deadline) {
        OpenEcho(port, byte_map);
        ++count;
    }
    return count / Seconds(Clock::now() - start);
}

}  // namespace bench
