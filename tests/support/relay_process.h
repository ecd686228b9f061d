// vorlane-relay run by a test as a child process (see child_process.h).
// VORLANE_RELAY_PATH names the binary; this part of the support library is
// built only where that binary is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace testing_support {

// The relay with exactly these arguments; killed at once if still running
// at the end.
class RelayProcess : public ChildProcess {
  public:
    explicit RelayProcess(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {},
                          StderrTo stderrTo = StderrTo::File);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;
};

// The part of the "event=listening" log line that names the port, for either engine.
std::string ListeningPort(int port);

// A relay on a free loopback port: "--listen PORT" goes in front of the
// arguments. Another program may take the port between the look-up and the
// relay's listen, so a start that ends early gets a new port, twice at most.
class ListeningRelay {
  public:
    explicit ListeningRelay(std::vector<std::string> arguments,
                            std::vector<std::string> environment = {});
    // In front of a target on 127.0.0.1 (or targetHost). Connections still
    // open at the end are cut at once: these tests stop the relay with
    // clients left connected on purpose.
    ListeningRelay(std::uint16_t targetPort, std::vector<std::string> extraArguments);
    ListeningRelay(const std::string& targetHost, std::uint16_t targetPort,
                   std::vector<std::string> extraArguments);

    // True once it printed that it listens.
    bool WaitUntilListening();
    std::uint16_t Port() const { return m_port; }
    RelayProcess& Process() { return *m_process; }
    // The relay, for the caller to own from now on.
    std::unique_ptr<RelayProcess> Take() { return std::move(m_process); }

  private:
    void Launch();

    std::vector<std::string> m_arguments;
    std::vector<std::string> m_environment;
    std::uint16_t m_port = 0;
    std::unique_ptr<RelayProcess> m_process;
};

// A relay that listens on a free port (its number in *port), or nullptr.
std::unique_ptr<RelayProcess> StartRelay(const std::vector<std::string>& arguments, int* port,
                                         const std::vector<std::string>& environment = {});

}  // namespace testing_support
