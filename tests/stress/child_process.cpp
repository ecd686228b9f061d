#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

ChildProcess::ChildProcess(const ChildOptions& options) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    std::vector<char*> argv;
    for (const std::string& arg : options.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::execv(argv[0], argv.data());
        static const char message[] = "exec failed\n";
        // Nothing is left to do if even this fails.
        [[maybe_unused]] const ssize_t ignored =
            ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return;
    }
    reader_ = std::thread([this, outFd = out[0], errFd = err[0]] { ReadOutput(outFd, errFd); });
}

ChildProcess::~ChildProcess() {
    Stop();
    if (reader_.joinable()) {
        reader_.join();
    }
}

void ChildProcess::ReadOutput(int outFd, int errFd) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
            changed_.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    outputClosed_ = true;
    changed_.notify_all();
}

bool ChildProcess::WaitForOutput(OutputStream stream, std::string_view needle,
                                 std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::string& text = stream == OutputStream::Out ? out_ : err_;
    return changed_.wait_for(lock, timeout, [&] {
        return text.find(needle) != std::string::npos || outputClosed_;
    }) && text.find(needle) != std::string::npos;
}

std::string ChildProcess::Output(OutputStream stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream == OutputStream::Out ? out_ : err_;
}

bool ChildProcess::Reap(bool block) {
    if (pid_ <= 0 || exited_) {
        return true;
    }
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (done == pid_) {
        status_ = status;
        exited_ = true;
    }
    return exited_;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // What the child wrote last may still be in the pipes. A grandchild that
    // inherited them can keep them open, hence the bound.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return outputClosed_; });
    return true;
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) {
        return -1;
    }
    if (!Reap(false)) {
        ::kill(pid_, SIGTERM);
        if (!WaitForExit(grace)) {
            ::kill(pid_, SIGKILL);
            Reap(true);
        }
    }
    return status_;
}

int ChildProcess::ExitCode() const {
    if (!exited_) {
        return -1;
    }
    if (WIFEXITED(status_)) {
        return WEXITSTATUS(status_);
    }
    return 128 + WTERMSIG(status_);
}
