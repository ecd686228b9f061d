#include "cli/console_display.h"

#include <chrono>
#include <thread>

namespace {

constexpr auto kMessagePause = std::chrono::milliseconds(100);

}  // namespace

void ConsoleDisplay::SetStatusText(const std::string& text) {
    PrintLine(stdout, text);
}

void ConsoleDisplay::ShowConnectionCount(int /*count*/) {}

void ConsoleDisplay::ShowTrafficTotal(TrafficDirection /*direction*/, std::int64_t /*total*/) {}

void ConsoleDisplay::EnableCommand(RelayCommand command, bool enabled) {
    if (command != RelayCommand::Start || !enabled) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(runLock_);
        ++endedRuns_;
    }
    runEnded_.notify_all();
}

void ConsoleDisplay::ShowMessage(const std::string& text) {
    PrintLine(stderr, text);
    std::this_thread::sleep_for(kMessagePause);
}

void ConsoleDisplay::PrintLine(std::FILE* stream, const std::string& text) {
    const std::lock_guard<std::mutex> lock(outputLock_);
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int ConsoleDisplay::EndedRuns() {
    const std::lock_guard<std::mutex> lock(runLock_);
    return endedRuns_;
}

bool ConsoleDisplay::WaitForRunEnd(int endedBefore, int timeoutMs) {
    std::unique_lock<std::mutex> lock(runLock_);
    return runEnded_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return endedRuns_ > endedBefore; });
}
