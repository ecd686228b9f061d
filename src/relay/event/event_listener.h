// One acceptor of the event engine, on one worker, with what it admits clients
// with. Where listeners can share a port every worker has one and keeps the
// clients it accepts, so no client crosses threads; elsewhere the first worker
// has the only one and hands clients to the workers in turn. Touched only on
// its worker's thread while a run is on.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/ip_address.h"
#include "relay/event/event_run.h"
#include "relay/event/event_worker.h"

struct EventListener {
    explicit EventListener(EventWorker& home)
        : worker(home), acceptor(home.context), acceptRetry(home.context) {}

    EventWorker& worker;
    asio::ip::tcp::acceptor acceptor;
    asio::steady_timer acceptRetry;
    // The settings of the clients it admits; a reload swaps them.
    std::shared_ptr<const EventRun> run;
    std::vector<net::IpRange> allowFrom;
    std::size_t nextWorker = 0;  // where the next client goes, when handing out
    // The run it accepts for: an accept that comes back after the engine's
    // run number moved on belongs to an ended run, even one that ended before
    // this listener began to accept.
    unsigned runNumber = 0;
};
