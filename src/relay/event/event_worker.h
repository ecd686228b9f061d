// One thread of the event engine with its own I/O context: every connection
// lives on one worker, so nothing of a connection is ever touched by two
// threads. The worker keeps its live connections and its buffer pool.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <memory>
#include <thread>
#include <unordered_set>
#include <vector>

#include "relay/event/buffer_pool.h"

class EventConnection;

struct EventWorker {
    // The reactor (its descriptors, and on Windows its thread) is made now
    // rather than with the first connection, so what the engine holds stays
    // the same from its start to its end. A wait on a socket is what makes it
    // on every system (on Windows nothing else does); on one never opened the
    // wait ends at once, on this worker's thread, and holds no descriptor.
    EventWorker() : work(asio::make_work_guard(context)) {
        asio::ip::tcp::socket unopened(context);
        unopened.async_wait(asio::socket_base::wait_read, [](std::error_code) {});
    }

    asio::io_context context{1};  // run by this worker's thread alone
    asio::executor_work_guard<asio::io_context::executor_type> work;
    std::thread thread;
    // Touched only on this worker's thread.
    // Open connections, held here until they close.
    std::unordered_set<std::shared_ptr<EventConnection>> live;
    // Sealed links opened ahead for the clients to come (also in `live`),
    // when the last client that could have used one came, and when the far
    // relay last refused one (it is at its limit: open none for a while).
    std::vector<std::shared_ptr<EventConnection>> spares;
    std::chrono::steady_clock::time_point lastSealedClient;
    std::chrono::steady_clock::time_point spareRefused;
    BufferPool buffers;
};
