#include "relay_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/wait_until.h"
#include "test_socket.h"

namespace cli_testing {

namespace {

std::string MakeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorlane-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Creates the file, so that its identity is known before the child opens it.
std::string DeviceAndInode(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    struct stat status {};
    const bool known = fd >= 0 && fstat(fd, &status) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return known ? std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) : "";
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

}  // namespace

RelayProcess::RelayProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, StderrTo stderrTo)
    : directory_(MakeTemporaryDirectory()) {
    const std::string program = VORLANE_RELAY_PATH;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    const std::string out = directory_ + "/stdout";
    const std::string err = directory_ + "/stderr";
    std::vector<std::string> variables = ChildEnvironment(environment, DeviceAndInode(err));
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int pipeEnds[2] = {-1, -1};
    if (stderrTo == StderrTo::Pipe && pipe2(pipeEnds, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
        stderrPipe_ = pipeEnds[0];
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[1] >= 0) {
        close(pipeEnds[1]);  // the child's copy alone keeps the pipe open
    }
}

RelayProcess::~RelayProcess() {
    if (pid_ > 0 && !Reap(false)) {
        kill(pid_, SIGKILL);
        Reap(true);
    }
    if (stderrPipe_ >= 0) {
        close(stderrPipe_);
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string RelayProcess::ReadStderrPipe(int timeoutMs) {
    std::string text;
    char chunk[65536];
    platform::WaitUntil(
        [&] {
            pollfd ready{stderrPipe_, POLLIN, 0};
            while (poll(&ready, 1, 0) > 0) {
                const ssize_t got = read(stderrPipe_, chunk, sizeof chunk);
                if (got <= 0) {
                    return true;  // the end, or no pipe
                }
                text.append(chunk, static_cast<std::size_t>(got));
            }
            return false;
        },
        timeoutMs);
    return text;
}

std::string RelayProcess::Stdout() const {
    return ReadWholeFile(directory_ + "/stdout");
}

std::string RelayProcess::Stderr() const {
    return ReadWholeFile(directory_ + "/stderr");
}

bool RelayProcess::WaitForStdout(const std::string& text, int timeoutMs) {
    return WaitForOutput([this] { return Stdout(); }, text, timeoutMs);
}

bool RelayProcess::WaitForStderr(const std::string& text, int timeoutMs) {
    return WaitForOutput([this] { return Stderr(); }, text, timeoutMs);
}

bool RelayProcess::WaitForOutput(const std::function<std::string()>& read, const std::string& text,
                                 int timeoutMs) {
    bool found = false;
    platform::WaitUntil(
        [&] {
            // Read before testing for the exit, so output printed just before it counts.
            found = read().find(text) != std::string::npos;
            return found || Reap(false);
        },
        timeoutMs);
    return found;
}

void RelayProcess::Signal(int signal) const {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, signal);
    }
}

std::optional<int> RelayProcess::WaitForExit(int timeoutMs) {
    if (pid_ <= 0 || !platform::WaitUntil([&] { return Reap(false); }, timeoutMs)) {
        return std::nullopt;
    }
    if (!WIFEXITED(status_)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status_);
}

bool RelayProcess::Reap(bool block) {
    if (!reaped_ && waitpid(pid_, &status_, block ? 0 : WNOHANG) == pid_) {
        reaped_ = true;
    }
    return reaped_;
}

std::string ListeningPort(int port) {
    return " port=" + std::to_string(port) + " target=";
}

std::unique_ptr<RelayProcess> StartRelay(const std::vector<std::string>& arguments, int* port,
                                         const std::vector<std::string>& environment) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        *port = testing_support::UnusedPort();
        std::vector<std::string> withPort = {"--listen", std::to_string(*port)};
        withPort.insert(withPort.end(), arguments.begin(), arguments.end());
        auto relay = std::make_unique<RelayProcess>(withPort, environment);
        if (relay->WaitForStderr(ListeningPort(*port), testing_support::kPatienceMs)) {
            return relay;
        }
    }
    return nullptr;
}

ScratchDirectory::ScratchDirectory() : path_(MakeTemporaryDirectory()) {}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDirectory::WriteFile(const std::string& name, const std::string& bytes) const {
    std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

}  // namespace cli_testing
