#include "ssh_server.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "test_socket.h"
#include "wait.h"

namespace testing_support {
namespace {

// sshd is often outside an ordinary user's PATH. It must be run by its
// absolute path, since it execs itself again for every connection.
std::string SshdPath() {
    std::string found = FindExecutable("sshd");
    if (!found.empty()) {
        return found;
    }
    return access("/usr/sbin/sshd", X_OK) == 0 ? "/usr/sbin/sshd" : "";
}

std::string CurrentUser() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// An ed25519 key pair without a passphrase; false when ssh-keygen fails.
bool MakeKey(const std::string& path) {
    ChildOptions options;
    options.argv = {"ssh-keygen", "-q", "-t",           "ed25519", "-N",
                    "",           "-C", "vorlane-test", "-f",      path};
    ChildProcess keygen(options);
    return keygen.WaitForExit(static_cast<int>(kPatience.count())) == 0;
}

}  // namespace

std::string SshServer::MissingPrograms() {
    std::string missing = SshdPath().empty() ? "sshd" : "";
    for (const char* program : {"ssh", "scp", "ssh-keygen"}) {
        if (FindExecutable(program).empty()) {
            missing += (missing.empty() ? "" : ", ") + std::string(program);
        }
    }
    return missing;
}

SshServer::SshServer(const std::vector<std::string>& extraConfig)
    : m_user(CurrentUser()), m_clientKey(m_directory.Path() + "/client_key") {
    const std::string missing = MissingPrograms();
    if (!missing.empty()) {
        m_failure = "not installed: " + missing;
        return;
    }
    const std::string& dir = m_directory.Path();
    if (!MakeKey(dir + "/host_key") || !MakeKey(m_clientKey)) {
        m_failure = "ssh-keygen failed";
        return;
    }
    m_directory.WriteFile("authorized_keys", ReadFile(m_clientKey + ".pub"));
    // As root, sshd separates privileges into this directory, which the
    // system's service would otherwise make at its start.
    if (geteuid() == 0) {
        mkdir("/run/sshd", 0755);
    }
    // Only this client key logs in, only as this user, and nothing of the
    // system's sshd setup (PAM, its host keys, its config) is used.
    std::string config =
        "ListenAddress 127.0.0.1\n"
        "HostKey " +
        dir +
        "/host_key\n"
        "AuthorizedKeysFile " +
        dir +
        "/authorized_keys\n"
        "PidFile " +
        dir +
        "/sshd.pid\n"
        "UsePAM no\n"
        "StrictModes no\n"
        "PasswordAuthentication no\n"
        "KbdInteractiveAuthentication no\n"
        "PubkeyAuthentication yes\n"
        "PermitRootLogin prohibit-password\n"
        "AllowTcpForwarding local\n"
        "PrintMotd no\n"
        "Subsystem sftp internal-sftp\n";  // scp speaks SFTP since OpenSSH 9.0
    for (const std::string& line : extraConfig) {
        config += line + "\n";
    }
    // Another program may take the free port before sshd binds it: try again.
    constexpr int kTries = 3;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (Launch(config) || m_failure.find("Address already in use") == std::string::npos) {
            return;
        }
    }
}

SshServer::~SshServer() = default;  // the process is stopped by its PID

bool SshServer::Launch(const std::string& configText) {
    m_port = FreePort();
    if (m_port == 0) {
        m_failure = "no free port";
        return false;
    }
    const std::string configPath =
        m_directory.WriteFile("sshd_config", configText + "Port " + std::to_string(m_port) + "\n");
    ChildOptions options;
    options.argv = {SshdPath(), "-D", "-e", "-f", configPath};
    options.stopGraceMs = 3000;
    options.ownProcessGroup = true;  // dies with the caller
    m_process = std::make_unique<ChildProcess>(options);
    if (m_process->WaitForStderr("Server listening on", static_cast<int>(kPatience.count()))) {
        m_failure.clear();
        return true;
    }
    m_process->Stop();
    m_failure = "sshd did not listen: " + m_process->Stderr();
    return false;
}

std::vector<std::string> SshServer::ClientOptions() const {
    return {"-F", "/dev/null",
            "-i", m_clientKey,
            "-o", "IdentitiesOnly=yes",
            "-o", "StrictHostKeyChecking=no",
            "-o", "UserKnownHostsFile=/dev/null",
            "-o", "BatchMode=yes",
            "-o", "LogLevel=ERROR",
            "-o", "ConnectTimeout=10"};
}

}  // namespace testing_support
