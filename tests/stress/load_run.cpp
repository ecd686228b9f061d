#include "load_run.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

namespace {

constexpr std::size_t kLargestChunk = std::size_t{16} << 10;
constexpr int kPollMilliseconds = 100;

std::uint32_t ReadNumber(const std::uint8_t bytes[4]) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

bool LoadRun::Fail(const std::string& message) {
    if (error_.empty()) {
        error_ = message;
    }
    return false;
}

bool LoadRun::Expired(std::chrono::steady_clock::time_point deadline, const std::string& phase) {
    if (std::chrono::steady_clock::now() < deadline) {
        return false;
    }
    return !Fail("time-out while " + phase);
}

bool LoadRun::Listen() {
    listener_ = testing_support::Listen(SOMAXCONN, &targetPort_);
    if (!listener_.valid()) {
        return Fail("the target cannot listen");
    }
    testing_support::SetNonBlocking(listener_.fd(), true);
    return true;
}

bool LoadRun::AcceptTargets() {
    for (;;) {
        int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                return true;
            }
            return Fail(std::string("target accept failed: ") + std::strerror(errno));
        }
        targets_.emplace_back();
        targets_.back().socket = testing_support::TestSocket(fd);
    }
}

bool LoadRun::FinishConnect(Endpoint& client) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(client.socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        return Fail("connect to the relay failed on connection " + std::to_string(client.id) +
                    ": " + std::strerror(error));
    }
    client.connecting = false;
    std::uint8_t number[4] = {
        static_cast<std::uint8_t>(client.id), static_cast<std::uint8_t>(client.id >> 8),
        static_cast<std::uint8_t>(client.id >> 16), static_cast<std::uint8_t>(client.id >> 24)};
    if (::send(client.socket.fd(), number, sizeof number, MSG_NOSIGNAL) != sizeof number) {
        return Fail("could not send the number of connection " + std::to_string(client.id));
    }
    return true;
}

bool LoadRun::ReadHeader(Endpoint& target, int* established) {
    ssize_t got = ::recv(target.socket.fd(), target.header + target.headerHave,
                         sizeof target.header - target.headerHave, 0);
    if (got == 0) {
        return Fail("the relay ended a target connection before its first bytes");
    }
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return true;
        }
        return Fail(std::string("target receive failed: ") + std::strerror(errno));
    }
    target.headerHave += static_cast<std::size_t>(got);
    if (target.headerHave == sizeof target.header) {
        target.id = ReadNumber(target.header);
        if (target.id >= static_cast<std::uint32_t>(plan_.connections)) {
            return Fail("the target received a number no connection has");
        }
        ++*established;
    }
    return true;
}

bool LoadRun::OpenAll(std::uint16_t relayPort) {
    if (plan_.openWindow < 1) {
        plan_.openWindow = 1;
    }
    clients_.resize(static_cast<std::size_t>(plan_.connections));
    auto deadline = std::chrono::steady_clock::now() + plan_.timeout;
    int started = 0;
    int established = 0;
    std::vector<pollfd> fds;
    std::vector<Endpoint*> owners;
    while (established < plan_.connections) {
        while (started < plan_.connections && started - established < plan_.openWindow) {
            Endpoint& client = clients_[static_cast<std::size_t>(started)];
            client.id = static_cast<std::uint32_t>(started);
            client.socket = testing_support::ConnectNonBlocking(relayPort);
            if (!client.socket.valid()) {
                return Fail("cannot open connection " + std::to_string(started) + ": " +
                            std::strerror(errno));
            }
            client.connecting = true;
            ++started;
        }
        if (Expired(deadline, "opening connections (" + std::to_string(established) + " of " +
                                  std::to_string(plan_.connections) + " reached the target)")) {
            return false;
        }
        fds.clear();
        owners.clear();
        fds.push_back({listener_.fd(), POLLIN, 0});
        owners.push_back(nullptr);
        for (int i = 0; i < started; ++i) {
            Endpoint& client = clients_[static_cast<std::size_t>(i)];
            // An idle client must not hear anything; a refusal text would show up here.
            fds.push_back(
                {client.socket.fd(), static_cast<short>(client.connecting ? POLLOUT : POLLIN), 0});
            owners.push_back(&client);
        }
        for (Endpoint& target : targets_) {
            if (target.headerHave < sizeof target.header) {
                fds.push_back({target.socket.fd(), POLLIN, 0});
                owners.push_back(&target);
            }
        }
        if (::poll(fds.data(), fds.size(), kPollMilliseconds) < 0 && errno != EINTR) {
            return Fail("poll failed");
        }
        std::size_t clientEnd = 1 + static_cast<std::size_t>(started);
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            Endpoint& endpoint = *owners[i];
            if (i < clientEnd) {
                if (endpoint.connecting) {
                    if (!FinishConnect(endpoint)) {
                        return false;
                    }
                    continue;
                }
                char text[64] = {};
                ssize_t got = ::recv(endpoint.socket.fd(), text, sizeof text - 1, 0);
                return Fail("idle connection " + std::to_string(endpoint.id) +
                            (got > 0 ? " received \"" + std::string(text) + "\""
                                     : std::string(" was closed by the relay")));
            }
            if (!ReadHeader(endpoint, &established)) {
                return false;
            }
        }
        if (fds[0].revents != 0 && !AcceptTargets()) {
            return false;
        }
    }
    std::unordered_set<std::uint32_t> seen;
    for (const Endpoint& target : targets_) {
        if (target.headerHave == sizeof target.header && !seen.insert(target.id).second) {
            return Fail("two target connections carried the same number");
        }
    }
    if (targets_.size() != clients_.size()) {
        return Fail("the target saw " + std::to_string(targets_.size()) + " connections for " +
                    std::to_string(clients_.size()) + " clients");
    }
    return true;
}

bool LoadRun::SendSome(Endpoint& endpoint) {
    if (endpoint.pendingOffset == endpoint.pending.size()) {
        chunkSeed_ = chunkSeed_ * 1103515245u + 12345u;
        std::size_t chunk = 1 + (chunkSeed_ >> 8) % kLargestChunk;
        chunk = std::min(chunk, plan_.bytesEach - endpoint.sent);
        endpoint.pending.resize(chunk);
        endpoint.outgoing.Fill(endpoint.pending.data(), chunk);
        endpoint.pendingOffset = 0;
    }
    ssize_t sent = ::send(endpoint.socket.fd(), endpoint.pending.data() + endpoint.pendingOffset,
                          endpoint.pending.size() - endpoint.pendingOffset, MSG_NOSIGNAL);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return true;
        }
        return Fail("send failed on connection " + std::to_string(endpoint.id) + ": " +
                    std::strerror(errno));
    }
    endpoint.pendingOffset += static_cast<std::size_t>(sent);
    endpoint.sent += static_cast<std::size_t>(sent);
    if (endpoint.sent == plan_.bytesEach) {
        ::shutdown(endpoint.socket.fd(), SHUT_WR);
        endpoint.shutWrite = true;
    }
    return true;
}

bool LoadRun::ReceiveSome(Endpoint& endpoint, const char* side) {
    std::uint8_t buffer[kLargestChunk];
    ssize_t got = ::recv(endpoint.socket.fd(), buffer, sizeof buffer, 0);
    std::string where = std::string(side) + " of connection " + std::to_string(endpoint.id);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return true;
        }
        return Fail("receive failed at the " + where + ": " + std::strerror(errno));
    }
    if (got == 0) {
        endpoint.ended = true;
        if (endpoint.received != plan_.bytesEach) {
            return Fail("the " + where + " saw the end after " + std::to_string(endpoint.received) +
                        " of " + std::to_string(plan_.bytesEach) + " bytes");
        }
        return true;
    }
    auto length = static_cast<std::size_t>(got);
    if (endpoint.received + length > plan_.bytesEach) {
        return Fail("the " + where + " received more bytes than were sent");
    }
    std::size_t good = endpoint.expected.Check(buffer, length);
    if (good != length) {
        return Fail("the " + where + " received a wrong byte at offset " +
                    std::to_string(endpoint.received + good));
    }
    endpoint.received += length;
    bytesChecked_ += length;
    return true;
}

bool LoadRun::TransferAndClose() {
    for (Endpoint& client : clients_) {
        client.outgoing = ByteStream(client.id, 0);
        client.expected = ByteStream(client.id, 1);
    }
    for (Endpoint& target : targets_) {
        target.outgoing = ByteStream(target.id, 1);
        target.expected = ByteStream(target.id, 0);
    }
    auto deadline = std::chrono::steady_clock::now() + plan_.timeout;
    std::vector<pollfd> fds;
    std::vector<std::pair<Endpoint*, const char*>> owners;
    for (;;) {
        fds.clear();
        owners.clear();
        auto add = [&](Endpoint& endpoint, const char* side) {
            if (Done(endpoint)) {
                endpoint.socket.Close();
                return;
            }
            short events = 0;
            if (!endpoint.shutWrite) {
                events |= POLLOUT;
            }
            if (!endpoint.ended) {
                events |= POLLIN;
            }
            fds.push_back({endpoint.socket.fd(), events, 0});
            owners.emplace_back(&endpoint, side);
        };
        for (Endpoint& client : clients_) {
            add(client, "client side");
        }
        for (Endpoint& target : targets_) {
            add(target, "target side");
        }
        if (fds.empty()) {
            return true;
        }
        std::size_t open = fds.size();
        if (Expired(deadline, ("moving data (" + std::to_string(open) + " ends still open)"))) {
            return false;
        }
        if (::poll(fds.data(), fds.size(), kPollMilliseconds) < 0 && errno != EINTR) {
            return Fail("poll failed");
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            Endpoint& endpoint = *owners[i].first;
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !endpoint.ended &&
                !ReceiveSome(endpoint, owners[i].second)) {
                return false;
            }
            if ((fds[i].revents & POLLOUT) != 0 && !endpoint.shutWrite && !SendSome(endpoint)) {
                return false;
            }
        }
    }
}
