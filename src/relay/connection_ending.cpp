#include "relay/connection_ending.h"

ConnectionEnding::ConnectionEnding(const ConnectionReport& report)
    : connection(report), m_accepted(std::chrono::steady_clock::now()) {}

void ConnectionEnding::AddBytes(TrafficDirection direction, std::int64_t bytes) {
    (direction == TrafficDirection::ClientToServer ? m_bytesUp : m_bytesDown).fetch_add(bytes);
}

void ConnectionEnding::EndedInOrder(TrafficDirection direction) {
    CScopedLock lock(m_csEnd);
    m_lastInOrder = direction;
    ++m_endedInOrder;
}

void ConnectionEnding::Failed(CloseReason reason, std::error_code error) {
    CScopedLock lock(m_csEnd);
    if (!m_failure) {
        m_failure = reason;
        m_error = error;
    }
}

ConnectionEnd ConnectionEnding::End() const {
    ConnectionEnd end;
    end.connection = connection;
    end.bytesUp = m_bytesUp.load();
    end.bytesDown = m_bytesDown.load();
    end.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_accepted);
    CScopedLock lock(m_csEnd);
    if (m_failure) {
        end.reason = *m_failure;
        end.error = m_error;
    } else if (m_endedInOrder < 2 || !m_lastInOrder) {
        end.reason = CloseReason::Reset;
    } else {
        end.reason = *m_lastInOrder == TrafficDirection::ClientToServer ? CloseReason::ClientClosed
                                                                        : CloseReason::TargetClosed;
    }
    return end;
}
