#include "relay_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/wait_until.h"

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

}  // namespace

RelayProcess::RelayProcess(const std::vector<std::string>& arguments)
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

RelayProcess::~RelayProcess() {
    if (pid_ > 0 && !Reap(false)) {
        kill(pid_, SIGKILL);
        Reap(true);
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
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
