// What the threaded engine shows, as log lines: its status texts at debug, its
// messages as errors. Totals and the count are not drawn; statistics lines
// print them instead. (The event engine reports typed events instead, which
// EventLog words.)
#pragma once

#include "relay/relay_display.h"
#include "server/logging/log_writer.h"

class ConsoleDisplay : public RelayDisplay {
  public:
    explicit ConsoleDisplay(LogWriter& log) : m_log(log) {}

    void SetStatusText(const std::string& text) override;
    void ShowConnectionCount(int /*count*/) override {}
    void ShowTrafficTotal(TrafficDirection /*direction*/, std::int64_t /*total*/) override {}
    void EnableCommand(RelayCommand /*command*/, bool /*enabled*/) override {}
    // Nobody is there to dismiss a message: it is logged, and the caller is
    // held briefly so that an accept error repeating at once cannot spin.
    void ShowMessage(const std::string& text) override;

  private:
    LogWriter& m_log;
};
