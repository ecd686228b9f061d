// The one launcher of the tests and the benchmark: a program started by its
// argv, its standard output and error captured in files, signalled and
// stopped only by its own PID (or its own process group, when it has one).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scratch_directory.h"

namespace testing_support {

// Where the child's stderr goes.
enum class StderrTo {
    File,        // read with Stderr()
    Stdout,      // the same file as stdout
    UnreadPipe,  // a pipe the test reads only when it chooses to (ReadStderrPipe)
};

struct ChildOptions {
    // argv[0] is a path, or a program name looked up in PATH.
    std::vector<std::string> argv;
    // "NAME=value" entries put over the inherited environment; "{stderr}" in
    // a value stands for the "device:inode" of the child's stderr file (as
    // systemd sets JOURNAL_STREAM).
    std::vector<std::string> environment;
    // Where stdout goes; empty: a file in a scratch directory of its own.
    std::string stdoutPath;
    StderrTo stderrTo = StderrTo::File;
    // How long Stop (and the destructor) waits after SIGTERM before SIGKILL;
    // 0 kills at once.
    int stopGraceMs = 10000;
    // A process group of its own, which Stop ends too (a forking program
    // leaves children behind), and death with the caller.
    bool ownProcessGroup = false;
};

class ChildProcess {
  public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    std::string Stdout() const;
    std::string Stderr() const;
    // True once the output holds the text; false on time-out or when the
    // process ends without printing it.
    bool WaitForStdout(std::string_view text, int timeoutMs);
    bool WaitForStderr(std::string_view text, int timeoutMs);
    // With StderrTo::UnreadPipe: what the pipe holds until its end (the child
    // gone) or the time-out.
    std::string ReadStderrPipe(int timeoutMs);

    bool Running();
    void Signal(int signal);
    // The exit code (128 + the signal for a killed child) once it has ended;
    // nothing while it still runs at the time-out.
    std::optional<int> WaitForExit(int timeoutMs);
    // SIGTERM, SIGKILL after the grace time; then the same for its group.
    // Returns ExitCode().
    int Stop();
    // Exit code, or 128 + signal; -1 while running.
    int ExitCode() const;

  private:
    bool Reap(bool block);
    bool WaitForOutput(bool fromStderr, std::string_view text, int timeoutMs);

    ChildOptions m_options;
    ScratchDirectory m_directory;  // the output files, removed with the object
    std::string m_stdoutPath;
    std::string m_stderrPath;
    int m_stderrPipe = -1;  // the read end
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = 0;
};

// The path execvp would run for program, or empty when there is none.
std::string FindExecutable(const std::string& program);

}  // namespace testing_support
