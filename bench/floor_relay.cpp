// floor_relay LISTEN_PORT TARGET_PORT [--feature-calls]
//
// The least a TCP relay can do on Linux, as a yardstick for the others: one
// thread, one epoll set, both sockets of a connection registered once
// (edge-triggered, never re-armed), no limits, time-outs, look-ups, logging or
// keep-alive. It listens on 127.0.0.1 and relays to 127.0.0.1. Whatever it
// cannot beat, no relay built on the same calls will.
//
// With --feature-calls it also makes, per connection, the calls vorlane-relay's
// features need and no loop can spare: no-delay and keep-alive on the target
// (5 setsockopt) and a connect deadline on a timerfd (1 timerfd_settime). The
// two together tell how much of a gap is the features and how much the loop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Small enough that a connection comes from the heap's free list, not mmap.
constexpr std::size_t kChunk = 16384;

// Bytes read from one socket and not yet written to the other.
struct Direction {                   // NOLINT(cppcoreguidelines-pro-type-member-init): see bytes
    std::array<char, kChunk> bytes;  // left uninitialised: filled before use
    std::size_t start = 0;
    std::size_t end = 0;
    bool ended = false;  // end of stream read and passed on
};

// Both of its sockets' epoll events point at it: an event on either side
// pumps both directions.
struct Connection {
    int client = -1;
    int target = -1;
    Direction up;    // client to target
    Direction down;  // target to client
    bool closed = false;
};

enum class Pumped { kWaiting, kFailed };

// Moves bytes from one socket to the other until either would block.
Pumped Pump(int from, int to, Direction& direction) {
    for (;;) {
        while (direction.start < direction.end) {
            const ssize_t sent = send(to, direction.bytes.data() + direction.start,
                                      direction.end - direction.start, MSG_NOSIGNAL);
            if (sent < 0) {
                return errno == EAGAIN || errno == ENOTCONN ? Pumped::kWaiting : Pumped::kFailed;
            }
            direction.start += static_cast<std::size_t>(sent);
        }
        if (direction.ended) {
            return Pumped::kWaiting;
        }
        const ssize_t got = recv(from, direction.bytes.data(), direction.bytes.size(), 0);
        if (got > 0) {
            direction.start = 0;
            direction.end = static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) {
            direction.ended = true;
            shutdown(to, SHUT_WR);
            return Pumped::kWaiting;
        }
        return errno == EAGAIN ? Pumped::kWaiting : Pumped::kFailed;
    }
}

// What vorlane-relay sets on each target connection, and its connect deadline.
void FeatureCalls(int target, int deadlines) {
    const int on = 1;
    const int idle = 60;
    const int interval = 10;
    const int probes = 6;
    setsockopt(target, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(target, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(target, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(target, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(target, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    itimerspec deadline{};
    deadline.it_value.tv_sec = 10;
    timerfd_settime(deadlines, 0, &deadline, nullptr);
}

bool Register(int epoll, int socket, Connection& connection) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.ptr = &connection;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, socket, &event) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool featureCalls = argc == 4 && std::strcmp(argv[3], "--feature-calls") == 0;
    if (argc != 3 && !featureCalls) {
        std::fprintf(stderr, "usage: floor_relay LISTEN_PORT TARGET_PORT [--feature-calls]\n");
        return 2;
    }
    // Never added to the epoll set: it stands for the deadline's bookkeeping only.
    const int deadlines = featureCalls ? timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK) : -1;
    sockaddr_in listenAddress{};
    listenAddress.sin_family = AF_INET;
    listenAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listenAddress.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    sockaddr_in targetAddress = listenAddress;
    targetAddress.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(listener, reinterpret_cast<sockaddr*>(&listenAddress), sizeof listenAddress) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        std::perror("floor_relay: listen");
        return 1;
    }
    const int epoll = epoll_create1(0);
    epoll_event listenEvent{};
    listenEvent.events = EPOLLIN;
    listenEvent.data.ptr = nullptr;
    epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &listenEvent);

    std::array<epoll_event, 64> events{};
    std::vector<Connection*> ended;
    for (;;) {
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), -1);
        for (int i = 0; i < ready; ++i) {
            auto* ready = static_cast<Connection*>(events[static_cast<std::size_t>(i)].data.ptr);
            if (ready == nullptr) {  // the listener
                for (int client;
                     (client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                    std::unique_ptr<Connection> connection(new Connection);
                    connection->client = client;
                    connection->target = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                    const bool started =
                        connection->target >= 0 &&
                        (connect(connection->target, reinterpret_cast<sockaddr*>(&targetAddress),
                                 sizeof targetAddress) == 0 ||
                         errno == EINPROGRESS) &&
                        Register(epoll, client, *connection) &&
                        Register(epoll, connection->target, *connection);
                    if (!started) {
                        close(client);
                        close(connection->target);
                        continue;
                    }
                    if (featureCalls) {
                        FeatureCalls(connection->target, deadlines);
                    }
                    // Owned by its epoll registrations from here until both sockets close.
                    static_cast<void>(connection.release());
                }
                continue;
            }
            Connection& connection = *ready;
            if (connection.closed) {
                continue;
            }
            const bool failed =
                Pump(connection.client, connection.target, connection.up) == Pumped::kFailed ||
                Pump(connection.target, connection.client, connection.down) == Pumped::kFailed;
            const bool finished = connection.up.ended && connection.down.ended &&
                                  connection.up.start == connection.up.end &&
                                  connection.down.start == connection.down.end;
            if (failed || finished) {
                close(connection.client);
                close(connection.target);
                connection.closed = true;
                ended.push_back(&connection);
            }
        }
        // Freed only after the batch: a later event in it may name the same connection.
        for (Connection* connection : ended) {
            delete connection;
        }
        ended.clear();
    }
}
