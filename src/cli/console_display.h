// What the engine shows, as lines on the console: status texts on stdout,
// messages on stderr. Totals and the count are not drawn; --stats prints
// them once a second instead.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "relay/relay_display.h"

class ConsoleDisplay : public RelayDisplay {
  public:
    void SetStatusText(const std::string& text) override;
    void ShowConnectionCount(int count) override;
    void ShowTrafficTotal(TrafficDirection direction, std::int64_t total) override;
    void EnableCommand(RelayCommand command, bool enabled) override;
    // Nobody is there to dismiss a message: it is printed, and the caller is
    // held briefly so that an accept error repeating at once cannot spin.
    void ShowMessage(const std::string& text) override;

    // One whole line, flushed, never interleaved with another.
    void PrintLine(std::FILE* stream, const std::string& text);

    // How many listening runs have ended (each end enables Start again).
    int EndedRuns();
    // Waits until more than `endedBefore` runs have ended; false on time-out.
    bool WaitForRunEnd(int endedBefore, int timeoutMs);

  private:
    std::mutex outputLock_;
    std::mutex runLock_;
    std::condition_variable runEnded_;
    int endedRuns_ = 0;
};
