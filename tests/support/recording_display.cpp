#include "recording_display.h"

namespace testing_support {

void RecordingDisplay::SetStatusText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status.push_back(text);
}

void RecordingDisplay::ShowConnectionCount(int count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_count = count;
}

void RecordingDisplay::ShowRunState(RunState state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_runStates.push_back(state);
}

void RecordingDisplay::ShowMessage(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(text);
}

void RecordingDisplay::ShowTrafficTotal(TrafficDirection direction, std::int64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    (direction == TrafficDirection::ClientToServer ? m_totalsUp : m_totalsDown).push_back(total);
}

std::vector<std::string> RecordingDisplay::StatusTexts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

std::vector<std::string> RecordingDisplay::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<RunState> RecordingDisplay::RunStates() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_runStates;
}

std::vector<std::int64_t> RecordingDisplay::Totals(TrafficDirection direction) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return direction == TrafficDirection::ClientToServer ? m_totalsUp : m_totalsDown;
}

int RecordingDisplay::LastCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

RunState RecordingDisplay::LastRunState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_runStates.empty() ? RunState::Idle : m_runStates.back();
}

}  // namespace testing_support
