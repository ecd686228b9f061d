#include "idle_connections.h"

#include <stdexcept>
#include <thread>
#include <vector>

#include "measurements.h"
#include "socket_util.h"

namespace bench {
namespace {

// Lets the relay finish what the last connection started (a thread parking,
// a worker going back to sleep) before /proc is read.
void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

}  // namespace

double IdleHold::KiBPerConnection() const {
    if (connections == 0) {
        return 0;
    }
    return (static_cast<double>(after.pss_kib) - static_cast<double>(before.pss_kib)) / connections;
}

IdleHold MeasureIdle(uint16_t port, int connections, bool byte_map,
                     const std::vector<pid_t>& relay_groups, std::chrono::seconds budget) {
    IdleHold hold;
    Settle();
    hold.before = ReadGroupUsage(relay_groups);
    const auto deadline = std::chrono::steady_clock::now() + budget;
    std::vector<Socket> open;
    open.reserve(static_cast<size_t>(connections));
    try {
        while (static_cast<int>(open.size()) < connections &&
               std::chrono::steady_clock::now() < deadline) {
            open.push_back(OpenEcho(port, byte_map));
        }
    } catch (const std::runtime_error& error) {
        if (open.empty()) {
            throw;
        }
        hold.shortfall = error.what();  // what it held until then is still measured
    }
    hold.connections = static_cast<int>(open.size());
    if (hold.connections < connections && hold.shortfall.empty()) {
        hold.shortfall = "time budget spent";
    }
    Settle();
    hold.after = ReadGroupUsage(relay_groups);
    return hold;
}

}  // namespace bench
