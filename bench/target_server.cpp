#include "target_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "stream_pattern.h"
#include "wire.h"

namespace bench {
namespace {

constexpr size_t kBufferLength = size_t{1} << 20;

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

}  // namespace

struct TargetServer::Session {
    Socket socket;
    uint8_t header[wire::kBulkHeaderLength] = {};
    size_t header_length = 0;
    uint64_t total = 0;           // bulk jobs: bytes asked for
    uint64_t done = 0;            // bulk jobs: bytes checked or sent
    std::vector<uint8_t> unsent;  // echo: bytes the client has not taken yet
    uint32_t watching = 0;

    char job() const { return header_length > 0 ? static_cast<char>(header[0]) : '\0'; }
};

TargetServer::TargetServer(uint16_t port) : buffer_(kBufferLength) {
    listener_ = Socket(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listener_.valid() ||
        bind(listener_.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_.fd(), SOMAXCONN) != 0 ||
        getsockname(listener_.fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(std::string("target listen: ") + std::strerror(errno));
    }
    port_ = ntohs(address.sin_port);

    epoll_ = Socket(epoll_create1(EPOLL_CLOEXEC));
    wake_ = Socket(eventfd(0, EFD_CLOEXEC));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_.fd();
    epoll_ctl(epoll_.fd(), EPOLL_CTL_ADD, listener_.fd(), &event);
    event.data.fd = wake_.fd();
    epoll_ctl(epoll_.fd(), EPOLL_CTL_ADD, wake_.fd(), &event);
    thread_ = std::thread([this] { Serve(); });
}

TargetServer::~TargetServer() {
    const uint64_t one = 1;
    if (write(wake_.fd(), &one, sizeof one) < 0) {
        // Cannot happen on an eventfd far from overflow; the join would hang.
        std::terminate();
    }
    thread_.join();
}

void TargetServer::Serve() {
    epoll_event events[64];
    for (;;) {
        const int ready = epoll_wait(epoll_.fd(), events, 64, -1);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wake_.fd()) {
                return;
            }
            if (fd == listener_.fd()) {
                AcceptAll();
                continue;
            }
            const auto found = sessions_.find(fd);
            if (found != sessions_.end()) {
                OnReady(*found->second, events[i].events);
            }
        }
    }
}

void TargetServer::AcceptAll() {
    for (;;) {
        const int fd = accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // drained, or out of descriptors until some close
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto session = std::make_unique<Session>();
        session->socket = Socket(fd);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        session->watching = EPOLLIN;
        epoll_ctl(epoll_.fd(), EPOLL_CTL_ADD, fd, &event);
        sessions_.emplace(fd, std::move(session));
    }
}

void TargetServer::OnReady(Session& session, uint32_t events) {
    bool keep = true;
    if ((events & (EPOLLERR)) != 0) {
        keep = false;
    } else if (session.header_length == 0 ||
               (session.job() != wire::kEcho && session.header_length < sizeof session.header)) {
        keep = ReadHeader(session);
    } else {
        switch (session.job()) {
            case wire::kUpload:
                keep = Sink(session);
                break;
            case wire::kDownload:
                keep = Source(session);
                break;
            default:
                keep = Echo(session);
                break;
        }
    }
    if (!keep) {
        Drop(session.socket.fd());
    }
}

bool TargetServer::ReadHeader(Session& session) {
    // Never read past the header: what follows belongs to the job.
    const size_t wanted =
        session.header_length == 0 ? 1 : sizeof session.header - session.header_length;
    const ssize_t received =
        recv(session.socket.fd(), session.header + session.header_length, wanted, 0);
    if (received <= 0) {
        return received < 0 && WouldBlock();
    }
    session.header_length += static_cast<size_t>(received);
    switch (session.job()) {
        case wire::kEcho:
            session.unsent.push_back(session.header[0]);
            return Echo(session);
        case wire::kUpload:
        case wire::kDownload:
            if (session.header_length < sizeof session.header) {
                return true;
            }
            session.total = wire::BulkCount(session.header);
            if (session.job() == wire::kDownload) {
                WatchFor(session, EPOLLOUT);
                return Source(session);
            }
            return true;
        default:
            return false;  // not a client of ours
    }
}

bool TargetServer::Sink(Session& session) {
    const size_t wanted =
        static_cast<size_t>(std::min<uint64_t>(buffer_.size(), session.total - session.done));
    const ssize_t received = recv(session.socket.fd(), buffer_.data(), wanted, 0);
    if (received <= 0) {
        return received < 0 && WouldBlock();
    }
    const auto length = static_cast<size_t>(received);
    const bool intact = StreamPattern::Instance().Matches(session.done, buffer_.data(), length);
    session.done += length;
    if (intact && session.done < session.total) {
        return true;
    }
    const char verdict = intact ? wire::kUploadVerified : wire::kUploadCorrupt;
    (void)send(session.socket.fd(), &verdict, 1, MSG_NOSIGNAL);
    return false;
}

bool TargetServer::Source(Session& session) {
    const StreamPattern& pattern = StreamPattern::Instance();
    while (session.done < session.total) {
        size_t contiguous = 0;
        const uint8_t* bytes = pattern.At(session.done, &contiguous);
        const size_t length =
            static_cast<size_t>(std::min<uint64_t>(contiguous, session.total - session.done));
        const ssize_t sent = send(session.socket.fd(), bytes, length, MSG_NOSIGNAL);
        if (sent < 0) {
            return WouldBlock();
        }
        session.done += static_cast<uint64_t>(sent);
    }
    return false;  // all sent: closing ends the stream after the last byte
}

bool TargetServer::Echo(Session& session) {
    if (session.unsent.empty()) {
        const ssize_t received = recv(session.socket.fd(), buffer_.data(), buffer_.size(), 0);
        if (received <= 0) {
            return received < 0 && WouldBlock();
        }
        session.unsent.assign(buffer_.data(), buffer_.data() + received);
    }
    const ssize_t sent =
        send(session.socket.fd(), session.unsent.data(), session.unsent.size(), MSG_NOSIGNAL);
    if (sent < 0 && !WouldBlock()) {
        return false;
    }
    session.unsent.erase(session.unsent.begin(),
                         session.unsent.begin() + std::max<ssize_t>(sent, 0));
    // Stop reading while the client lags, so the backlog stays one buffer.
    WatchFor(session, session.unsent.empty() ? EPOLLIN : EPOLLOUT);
    return true;
}

void TargetServer::WatchFor(Session& session, uint32_t events) {
    if (session.watching == events) {
        return;
    }
    epoll_event event{};
    event.events = events;
    event.data.fd = session.socket.fd();
    epoll_ctl(epoll_.fd(), EPOLL_CTL_MOD, session.socket.fd(), &event);
    session.watching = events;
}

void TargetServer::Drop(int fd) {
    epoll_ctl(epoll_.fd(), EPOLL_CTL_DEL, fd, nullptr);
    sessions_.erase(fd);  // closes the socket
}

}  // namespace bench
