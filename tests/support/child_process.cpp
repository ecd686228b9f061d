#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "wait.h"

namespace testing_support {
namespace {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

int OpenForWriting(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

std::string DeviceAndInode(int fd) {
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        return {};
    }
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

// The inherited environment with the given entries put over it.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& entries,
                                          const std::string& stderrIdentity) {
    std::vector<std::string> result;
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string inherited = *variable;
        if (std::none_of(entries.begin(), entries.end(), [&](const std::string& entry) {
                return nameOf(entry) == nameOf(inherited);
            })) {
            result.push_back(inherited);
        }
    }
    for (std::string entry : entries) {
        const std::string token = "{stderr}";
        if (const auto at = entry.find(token); at != std::string::npos) {
            entry.replace(at, token.size(), stderrIdentity);
        }
        result.push_back(entry);
    }
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::string FindExecutable(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return IsExecutableFile(program) ? program : std::string();
    }
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

ChildProcess::ChildProcess(const ChildOptions& options) : m_options(options) {
    if (m_options.argv.empty()) {
        return;
    }
    m_stdoutPath = options.stdoutPath.empty() ? m_directory.Path() + "/stdout" : options.stdoutPath;
    m_stderrPath =
        options.stderrTo == StderrTo::Stdout ? m_stdoutPath : m_directory.Path() + "/stderr";

    // Everything the child needs is made here: between fork and exec only
    // async-signal-safe calls are allowed.
    const int out = OpenForWriting(m_stdoutPath);
    int err = -1;
    int pipeEnds[2] = {-1, -1};
    if (options.stderrTo == StderrTo::File) {
        err = OpenForWriting(m_stderrPath);
    } else if (options.stderrTo == StderrTo::UnreadPipe && pipe2(pipeEnds, O_CLOEXEC) == 0) {
        err = pipeEnds[1];
        m_stderrPipe = pipeEnds[0];
    } else {
        err = out;
    }
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::vector<std::string> arguments = options.argv;
    std::string program = FindExecutable(arguments[0]);
    if (program.empty()) {
        program = arguments[0];  // exec fails, and the child exits 127
    }
    std::vector<std::string> variables = ChildEnvironment(options.environment, DeviceAndInode(err));
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(variables);

    if (out >= 0 && err >= 0 && in >= 0) {
        m_pid = fork();
        if (m_pid == 0) {
            if (options.ownProcessGroup) {
                setpgid(0, 0);
                prctl(PR_SET_PDEATHSIG, SIGKILL);
            }
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            signal(SIGPIPE, SIG_DFL);  // a caller that ignores it (the bench) must not pass that on
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        if (m_pid > 0 && options.ownProcessGroup) {
            setpgid(m_pid, m_pid);  // also here, so the group exists before either side runs on
        }
    }
    // The child's copies alone keep them open.
    for (const int fd : {in, out}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (err >= 0 && err != out) {
        close(err);
    }
}

ChildProcess::~ChildProcess() {
    Stop();
    if (m_stderrPipe >= 0) {
        close(m_stderrPipe);
    }
}

std::string ChildProcess::Stdout() const {
    return ReadWholeFile(m_stdoutPath);
}

std::string ChildProcess::Stderr() const {
    return m_stderrPipe >= 0 ? std::string() : ReadWholeFile(m_stderrPath);
}

bool ChildProcess::WaitForStdout(std::string_view text, int timeoutMs) {
    return WaitForOutput(false, text, timeoutMs);
}

bool ChildProcess::WaitForStderr(std::string_view text, int timeoutMs) {
    return WaitForOutput(true, text, timeoutMs);
}

bool ChildProcess::WaitForOutput(bool fromStderr, std::string_view text, int timeoutMs) {
    bool found = false;
    WaitUntil(
        [&] {
            // Read before testing for the exit, so output printed just before it counts.
            found = (fromStderr ? Stderr() : Stdout()).find(text) != std::string::npos;
            return found || !Running();
        },
        std::chrono::milliseconds(timeoutMs));
    return found;
}

std::string ChildProcess::ReadStderrPipe(int timeoutMs) {
    std::string text;
    char chunk[65536];
    WaitUntil(
        [&] {
            pollfd ready{m_stderrPipe, POLLIN, 0};
            while (poll(&ready, 1, 0) > 0) {
                const ssize_t got = read(m_stderrPipe, chunk, sizeof chunk);
                if (got <= 0) {
                    return true;  // the end, or no pipe
                }
                text.append(chunk, static_cast<std::size_t>(got));
            }
            return false;
        },
        std::chrono::milliseconds(timeoutMs));
    return text;
}

bool ChildProcess::Reap(bool block) {
    if (m_pid > 0 && !m_reaped && waitpid(m_pid, &m_status, block ? 0 : WNOHANG) == m_pid) {
        m_reaped = true;
    }
    return m_reaped || m_pid <= 0;
}

bool ChildProcess::Running() {
    return !Reap(false);
}

void ChildProcess::Signal(int signal) {
    if (Running()) {
        kill(m_pid, signal);
    }
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs) {
    if (m_pid <= 0 ||
        !WaitUntil([&] { return Reap(false); }, std::chrono::milliseconds(timeoutMs))) {
        return std::nullopt;
    }
    return ExitCode();
}

int ChildProcess::Stop() {
    if (m_pid <= 0) {
        return -1;
    }
    if (Running()) {
        if (m_options.stopGraceMs > 0) {
            kill(m_pid, SIGTERM);
        }
        if (!WaitForExit(m_options.stopGraceMs)) {
            kill(m_pid, SIGKILL);
            Reap(true);
        }
    }
    // Children it forked share the group whose id is its pid, and may still be closing.
    if (m_options.ownProcessGroup && kill(-m_pid, SIGTERM) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(-m_pid, SIGKILL);
    }
    return ExitCode();
}

int ChildProcess::ExitCode() const {
    if (!m_reaped) {
        return -1;
    }
    if (WIFEXITED(m_status)) {
        return WEXITSTATUS(m_status);
    }
    return 128 + WTERMSIG(m_status);
}

}  // namespace testing_support
