// Target names looked up for the event engine: a few threads shared by all
// its workers, each blocking in the system's look-up (getaddrinfo), so that
// one slow answer holds up only the client that waits for it. asio's own
// resolver runs one look-up at a time per I/O context, which let one slow
// name stall every client of a worker.
//
// Bounded: at most kThreads threads, started as look-ups need them and kept
// until the pool ends, and at most kQueued look-ups waiting for a thread.
// When the queue is full Start refuses at once (the client then ends as a
// failed look-up) rather than let a flood of clients hold memory.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

class LookupPool {
  public:
    static constexpr int kThreads = 8;
    static constexpr std::size_t kQueued = 1024;

    using Answer = std::function<void(std::error_code, std::vector<asio::ip::tcp::endpoint>)>;
    struct Shared;
    struct Job;

    // One look-up under way. Dropping or cancelling it removes it from the
    // queue, or has its answer thrown away if a thread already asks.
    class Pending {
      public:
        Pending() = default;
        Pending(std::shared_ptr<Shared> shared, std::shared_ptr<Job> job);
        ~Pending() { Cancel(); }
        Pending(Pending&& other) noexcept = default;
        Pending& operator=(Pending&& other) noexcept;
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;

        void Cancel();
        explicit operator bool() const { return m_job != nullptr; }

      private:
        std::shared_ptr<Shared> m_shared;
        std::shared_ptr<Job> m_job;
    };

    LookupPool();
    // Ends the threads; see the .cpp for why one stuck in a look-up is left.
    ~LookupPool();
    LookupPool(const LookupPool&) = delete;
    LookupPool& operator=(const LookupPool&) = delete;

    // Looks `host` up; `answer` then runs on `context` (never inside Start),
    // with every address found, unless the look-up was cancelled first or
    // the pool has ended. An empty Pending when the queue is full.
    Pending Start(const std::string& host, std::uint16_t port, asio::io_context& context,
                  Answer answer);

  private:
    std::shared_ptr<Shared> m_shared;
};

// A target address the relay may connect to: not unspecified (a connect to
// 0.0.0.0 or :: reaches this very machine) and not multicast, in either
// family or in an IPv4-mapped IPv6 address.
bool IsRelayableTarget(const asio::ip::address& address);
