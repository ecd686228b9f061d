#include "scripted_target.h"

#include <poll.h>
#include <sys/socket.h>

ScriptedTarget::ScriptedTarget(Handler handler)
    : ScriptedTarget(std::move(handler), loopback::Listen(SOMAXCONN, nullptr)) {}

ScriptedTarget::ScriptedTarget(Handler handler, loopback::Socket listener)
    : handler_(std::move(handler)),
      listener_(std::move(listener)),
      port_(loopback::BoundPort(listener_.fd())) {
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedTarget::~ScriptedTarget() {
    stopping_ = true;
    acceptor_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : live_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    for (std::thread& thread : handlers_) {
        thread.join();
    }
}

void ScriptedTarget::AcceptLoop() {
    while (!stopping_) {
        pollfd ready{listener_.fd(), POLLIN, 0};
        if (::poll(&ready, 1, 50) <= 0) {
            continue;
        }
        int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        int index = accepted_++;
        std::lock_guard<std::mutex> lock(mutex_);
        live_.insert(fd);
        handlers_.emplace_back([this, fd, index] { Serve(fd, index); });
    }
}

void ScriptedTarget::Serve(int fd, int index) {
    loopback::Socket connection(fd);
    handler_(connection, index);
    {
        // Closed under the lock, so the destructor never shuts down a reused number.
        std::lock_guard<std::mutex> lock(mutex_);
        live_.erase(fd);
        connection.Close();
    }
    ++finished_;
}

void ScriptedTarget::Echo(loopback::Socket& connection) {
    char buffer[16384];
    for (;;) {
        ssize_t got = ::recv(connection.fd(), buffer, sizeof buffer, 0);
        if (got <= 0 ||
            !loopback::SendAll(connection.fd(), buffer, static_cast<std::size_t>(got))) {
            return;
        }
    }
}
