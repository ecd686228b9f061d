// The headless relay draws nothing: statistics lines print the count and the
// totals, and the log and the metrics take the engine's reports.
#pragma once

#include "relay/relay_display.h"

class NoDisplay final : public RelayDisplay {
  public:
    void SetStatusText(const std::string& /*text*/) override {}
    void ShowConnectionCount(int /*count*/) override {}
    void ShowTrafficTotal(TrafficDirection /*direction*/, std::int64_t /*total*/) override {}
    void ShowRunState(RunState /*state*/) override {}
    void ShowMessage(const std::string& /*text*/) override {}
};
