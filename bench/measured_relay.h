// Runs one relay command as a child process (tests/support's launcher) in a
// process group of its own and stops it, and whatever it forked, by that id.
// The child is killed if the bench dies first.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

#include "child_process.h"

namespace bench {

using testing_support::FindExecutable;

class MeasuredRelay {
  public:
    // Starts argv[0] with the arguments; stdout and stderr go to log_path.
    MeasuredRelay(const std::vector<std::string>& argv, const std::string& log_path);
    ~MeasuredRelay();
    MeasuredRelay(const MeasuredRelay&) = delete;
    MeasuredRelay& operator=(const MeasuredRelay&) = delete;

    // True while the process has not exited.
    bool Running() { return child_.Running(); }

    // Its process group, which whatever it forks shares.
    pid_t group() const { return child_.Pid(); }

  private:
    testing_support::ChildProcess child_;
};

// Kills the process groups of every MeasuredRelay alive (both ends of a
// pair); async-signal-safe, for the bench's own interrupt handler.
void KillMeasuredRelays();

}  // namespace bench
