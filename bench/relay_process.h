// Runs one relay command as a child process in a process group of its own and
// stops it, and whatever it forked, by that id. The child is killed if the
// bench dies first.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace bench {

// The path execvp would run for program, or empty when there is none.
std::string FindExecutable(const std::string& program);

class RelayProcess {
  public:
    // Starts argv[0] with the arguments; stdout and stderr go to log_path.
    RelayProcess(const std::vector<std::string>& argv, const std::string& log_path);
    ~RelayProcess() { Stop(); }
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // True while the process has not exited.
    bool Running();

    // Its process group, which whatever it forks shares.
    pid_t group() const { return pid_; }

    // SIGTERM, a bounded wait, then SIGKILL; the same for the rest of its group.
    void Stop();

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// The process being measured, for the bench's own interrupt handler.
pid_t CurrentRelayGroup();

}  // namespace bench
