// vorlane-relay started for a test on a free loopback port in front of a
// given target, and stopped again by its PID.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"

class RelayProcess {
  public:
    RelayProcess(std::uint16_t targetPort, const std::vector<std::string>& extraArgs = {});
    ~RelayProcess() = default;

    // True once it printed that it listens.
    bool WaitUntilListening();
    std::uint16_t port() const { return port_; }
    ChildProcess& process() { return process_; }

  private:
    static ChildOptions Options(std::uint16_t port, std::uint16_t targetPort,
                                const std::vector<std::string>& extraArgs);

    std::uint16_t port_;
    ChildProcess process_;
};
