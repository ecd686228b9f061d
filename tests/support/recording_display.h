// A RelayDisplay that records every call, safe to call from any thread.
// Messages are recorded and return at once instead of waiting for a person.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "relay/relay_display.h"

namespace testing_support {

class RecordingDisplay : public RelayDisplay {
  public:
    void SetStatusText(const std::string& text) override;
    void ShowConnectionCount(int count) override;
    void ShowRunState(RunState state) override;
    void ShowMessage(const std::string& text) override;
    void ShowTrafficTotal(TrafficDirection direction, std::int64_t total) override;

    std::vector<std::string> StatusTexts() const;
    std::vector<std::string> Messages() const;
    std::vector<RunState> RunStates() const;
    std::vector<std::int64_t> Totals(TrafficDirection direction) const;
    int LastCount() const;
    // Idle before any state is shown, as the window starts.
    RunState LastRunState() const;

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_status;
    std::vector<std::string> m_messages;
    std::vector<RunState> m_runStates;
    std::vector<std::int64_t> m_totalsUp;
    std::vector<std::int64_t> m_totalsDown;
    int m_count = 0;
};

}  // namespace testing_support
