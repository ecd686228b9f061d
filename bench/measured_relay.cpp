#include "measured_relay.h"

#include <atomic>
#include <stdexcept>

namespace bench {
namespace {

std::atomic<pid_t> gCurrentGroup{-1};

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
    gCurrentGroup = child_.Pid();
}

MeasuredRelay::~MeasuredRelay() {
    child_.Stop();
    gCurrentGroup = -1;
}

pid_t CurrentRelayGroup() {
    return gCurrentGroup;
}

}  // namespace bench
