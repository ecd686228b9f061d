#include "server/logging/console_display.h"

#include <chrono>
#include <thread>

namespace {

constexpr auto kMessagePause = std::chrono::milliseconds(100);

}  // namespace

void ConsoleDisplay::SetStatusText(const std::string& text) {
    // The front end logs the start and end of a run itself.
    m_log.Write(LogLine(LogLevel::Debug, "status").Add("text", text));
}

void ConsoleDisplay::ShowMessage(const std::string& text) {
    m_log.Write(LogLine(LogLevel::Error, "message").Add("text", text));
    std::this_thread::sleep_for(kMessagePause);
}
