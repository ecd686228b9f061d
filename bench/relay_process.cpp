#include "relay_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace bench {
namespace {

std::atomic<pid_t> gCurrentGroup{-1};

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Waits up to the budget for the child to exit; true once it is reaped.
bool AwaitExit(pid_t pid, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    do {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
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

RelayProcess::RelayProcess(const std::vector<std::string>& argv, const std::string& log_path) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        throw std::runtime_error("cannot write " + log_path);
    }
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        signal(SIGPIPE, SIG_DFL);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(log);
    if (pid_ < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    setpgid(pid_, pid_);  // also here, so the group exists before either side runs on
    gCurrentGroup = pid_;
}

bool RelayProcess::Running() {
    if (!reaped_ && waitpid(pid_, nullptr, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

void RelayProcess::Stop() {
    if (pid_ < 0) {
        return;
    }
    if (!reaped_) {
        kill(pid_, SIGTERM);
        if (!AwaitExit(pid_, std::chrono::seconds(3))) {
            kill(pid_, SIGKILL);
            AwaitExit(pid_, std::chrono::seconds(3));
        }
        reaped_ = true;
    }
    // A forking relay (socat) may leave a child per connection that is still
    // closing; they share the group whose id is the relay's pid.
    if (kill(-pid_, SIGTERM) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(-pid_, SIGKILL);
    }
    gCurrentGroup = -1;
    pid_ = -1;
}

pid_t CurrentRelayGroup() {
    return gCurrentGroup;
}

}  // namespace bench
