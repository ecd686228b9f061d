// The vorlane-relay binary run as a child process, its stdout and stderr
// captured in files. The destructor kills it by its PID if it still runs.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli_testing {

// Where the child's stderr goes.
enum class StderrTo {
    File,  // read with Stderr()
    Pipe,  // that the test reads only when it chooses to (ReadStderrPipe)
};

class RelayProcess {
  public:
    // environment: "NAME=value" entries put over the inherited environment;
    // "{stderr}" in a value stands for the "device:inode" of the file the
    // child's stderr goes to (as systemd sets JOURNAL_STREAM).
    explicit RelayProcess(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {},
                          StderrTo stderrTo = StderrTo::File);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    std::string Stdout() const;
    std::string Stderr() const;
    // With StderrTo::Pipe: what the pipe holds until its end (the child
    // gone) or the time-out.
    std::string ReadStderrPipe(int timeoutMs);

    // True once stdout holds the text; false on time-out or when the process
    // ends without printing it.
    bool WaitForStdout(const std::string& text, int timeoutMs);
    bool WaitForStderr(const std::string& text, int timeoutMs);
    void Signal(int signal) const;
    // The exit code once the process has exited normally; nothing when it
    // is still running at the time-out or was killed by a signal.
    std::optional<int> WaitForExit(int timeoutMs);

  private:
    bool Reap(bool block);

    bool WaitForOutput(const std::function<std::string()>& read, const std::string& text,
                       int timeoutMs);

    std::string directory_;
    int stderrPipe_ = -1;  // the read end
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// The part of the "event=listening" log line that names the port, for either engine.
std::string ListeningPort(int port);

// Starts a relay on a free port. Another program may take the port between
// the look-up and the relay's listen, so a failed start is retried.
std::unique_ptr<RelayProcess> StartRelay(const std::vector<std::string>& arguments, int* port,
                                         const std::vector<std::string>& environment = {});

// A directory of files for one test, removed with everything in it.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // Writes a file into the directory and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) const;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace cli_testing
