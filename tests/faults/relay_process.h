// vorlane-relay started for a test on a free loopback port in front of a
// given target (127.0.0.1 unless named), and stopped again by its PID.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

class RelayProcess {
  public:
    RelayProcess(std::uint16_t targetPort, std::vector<std::string> extraArgs = {});
    RelayProcess(std::string targetHost, std::uint16_t targetPort,
                 std::vector<std::string> extraArgs = {});

    // True once it printed that it listens. A port taken by someone else
    // between choosing and binding it gets the relay a new one, twice at most.
    bool WaitUntilListening();
    std::uint16_t port() const { return port_; }
    ChildProcess& process() { return *process_; }

  private:
    void Launch();

    std::string targetHost_;
    std::uint16_t targetPort_;
    std::vector<std::string> extraArgs_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};
