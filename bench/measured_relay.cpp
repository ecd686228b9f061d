#include "measured_relay.h"

#include <signal.h>

#include <atomic>
#include <stdexcept>

namespace bench {
namespace {

// The relays alive at once: a pair's two ends and the idle test's target.
constexpr int kMostAlive = 4;
std::atomic<pid_t> gAliveGroups[kMostAlive];

void Remember(pid_t group) {
    for (std::atomic<pid_t>& slot : gAliveGroups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, group)) {
            return;
        }
    }
}

void Forget(pid_t group) {
    for (std::atomic<pid_t>& slot : gAliveGroups) {
        pid_t expected = group;
        slot.compare_exchange_strong(expected, 0);
    }
}

testing_support::ChildOptions RelayOptions(const std::vector<std::string>& argv,
                                           const std::string& log_path) {
    testing_support::ChildOptions options;
    options.argv = argv;
    options.stdoutPath = log_path;
    options.stderrTo = testing_support::StderrTo::Stdout;
    options.stopGraceMs = 3000;
    // A forking relay (socat) may leave a child per connection that is still closing.
    options.ownProcessGroup = true;
    return options;
}

}  // namespace

MeasuredRelay::MeasuredRelay(const std::vector<std::string>& argv, const std::string& log_path)
    : child_(RelayOptions(argv, log_path)) {
    if (!child_.Started()) {
        throw std::runtime_error("cannot start " + argv.front() + " (log " + log_path + ")");
    }
    Remember(child_.Pid());
}

MeasuredRelay::~MeasuredRelay() {
    child_.Stop();
    Forget(child_.Pid());
}

void KillMeasuredRelays() {
    for (const std::atomic<pid_t>& slot : gAliveGroups) {
        const pid_t group = slot.load();
        if (group > 0) {
            kill(-group, SIGKILL);
        }
    }
}

}  // namespace bench
