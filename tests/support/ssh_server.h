// A private sshd for the tests and the benchmark: run as the current user on
// 127.0.0.1 at a free port, with a host key, a client key and a config file of
// its own (never the system's), and stopped by its own PID.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "scratch_directory.h"

namespace testing_support {

class SshServer {
  public:
    // The programs it and its clients need that are not installed, as
    // "sshd, scp"; empty when all are.
    static std::string MissingPrograms();

    // Starts sshd and waits, within kPatience, until it listens; Failure()
    // says why when it does not. extraConfig: more sshd_config lines.
    explicit SshServer(const std::vector<std::string>& extraConfig = {});
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    bool Listening() const { return m_failure.empty(); }
    const std::string& Failure() const { return m_failure; }
    std::uint16_t Port() const { return m_port; }
    pid_t Pid() const { return m_process ? m_process->Pid() : -1; }
    // The account to log in as: the one running sshd, the only one it can serve.
    const std::string& User() const { return m_user; }
    const std::string& ClientKey() const { return m_clientKey; }
    // Options for ssh and scp: this client key alone, no configuration files,
    // no known-hosts file, no prompts.
    std::vector<std::string> ClientOptions() const;

  private:
    bool Launch(const std::string& configText);

    ScratchDirectory m_directory;
    std::unique_ptr<ChildProcess> m_process;
    std::uint16_t m_port = 0;
    std::string m_user;
    std::string m_clientKey;
    std::string m_failure;
};

}  // namespace testing_support
