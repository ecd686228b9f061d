// A program started for a test, with its standard output and error collected
// and its end under the test's control. It is only ever signalled by its own
// PID.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

enum class OutputStream { Out, Err };

struct ChildOptions {
    std::vector<std::string> argv;  // argv[0] is a path; no PATH search
};

class ChildProcess {
  public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Waits until the stream holds needle; false on time-out or exit first.
    bool WaitForOutput(OutputStream stream, std::string_view needle,
                       std::chrono::milliseconds timeout);
    std::string Output(OutputStream stream);

    // Waits for the child to exit by itself; false on time-out.
    bool WaitForExit(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after the grace time. Returns the wait status.
    int Stop(std::chrono::milliseconds grace = std::chrono::seconds(10));
    // Exit code, or 128 + signal; -1 while running.
    int ExitCode() const;

  private:
    void ReadOutput(int outFd, int errFd);
    bool Reap(bool block);

    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool outputClosed_ = false;
    std::thread reader_;
};
