#include "server/logging/event_log.h"

#include "relay/run_texts.h"

std::string PeerText(const PeerAddress& peer) {
    return net::EndpointText(peer.address, peer.port);
}

const char* EncodeModeName(EncodeMode mode) {
    return NameOf(mode, kEncodeModeNames);
}

std::string ErrorText(std::error_code error) {
    std::string text = error.message();
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

namespace {

// What the link between the two relays carries: sealed messages, mapped
// bytes, or the programs' own bytes.
const char* LinkName(const ListenStarted& started) {
    if (started.sealed) {
        return "sealed";
    }
    return started.mode == EncodeMode::None ? "plain" : "mapped";
}

}  // namespace

void EventLog::Listening(const ListenStarted& started) {
    m_log.Write(LogLine(LogLevel::Info, "listening")
                    .Add("address", started.bound.address.ToString())
                    .Add("port", static_cast<int>(started.bound.port))
                    .Add("target", started.target)
                    .Add("target_port", started.targetPort)
                    .Add("mode", EncodeModeName(started.mode))
                    .Add("link", LinkName(started))
                    .Add("limit", started.limit)
                    .Add("engine", m_engineName));
}

void EventLog::StartFailed(const StartFailure& failure) {
    LogLine line(LogLevel::Error, "start_failed");
    if (failure.refusal) {
        line.Add("message", StartRefusalMessage(*failure.refusal));
    } else {
        line.Add("message",
                 failure.step == ListenStep::Thread ? kCreateThreadFailedText : kListenFailedText);
        std::string step = ListenStepName(failure.step);
        line.Add("error", failure.error ? step + ": " + ErrorText(failure.error) : step);
    }
    m_log.Write(line);
}

void EventLog::TargetUnresolved(const std::string& host, std::error_code error) {
    LogLine line(LogLevel::Warn, "target_unresolved");
    line.Add("target", host);
    if (error) {
        line.Add("error", ErrorText(error));
    }
    m_log.Write(line);
}

void EventLog::RunStateChanged(RunState state) {
    // Listening has its own line with the address; the front end words the end of a run.
    if (state == RunState::Idle) {
        m_log.Write(LogLine(LogLevel::Info, "listening_ended"));
    }
}

void EventLog::ConnectionAccepted(const ConnectionReport& connection) {
    m_log.Write(LogLine(LogLevel::Debug, "accepted")
                    .Add("id", connection.id)
                    .Add("client", PeerText(connection.client)));
}

void EventLog::ConnectionOpened(const ConnectionReport& connection) {
    m_log.Write(LogLine(LogLevel::Info, "open")
                    .Add("id", connection.id)
                    .Add("client", PeerText(connection.client))
                    .Add("target", PeerText(connection.target)));
}

void EventLog::ConnectionClosed(const ConnectionEnd& end) {
    LogLine line(LogLevel::Info, "close");
    line.Add("id", end.connection.id).Add("client", PeerText(end.connection.client));
    if (end.connection.target.port != 0) {
        line.Add("target", PeerText(end.connection.target));
    }
    line.Add("reason", CloseReasonName(end.reason))
        .Add("up", end.bytesUp)
        .Add("down", end.bytesDown)
        .Add("duration_ms", static_cast<std::int64_t>(end.duration.count()));
    if (end.error) {
        line.Add("error", ErrorText(end.error));
    }
    m_log.Write(line);
}

void EventLog::ClientRefused(const PeerAddress& client, RefusalReason reason) {
    const auto now = RefusalSummary::Clock::now();
    std::vector<RefusalCount> ended;
    bool ownLine = false;
    {
        const std::lock_guard<std::mutex> hold(m_refusalsLock);
        ended = m_refusals.Ended(now);
        ownLine = m_refusals.Refused(reason, now);
    }
    WriteSummaries(ended);
    if (ownLine) {
        m_log.Write(LogLine(LogLevel::Warn, "refused")
                        .Add("client", PeerText(client))
                        .Add("reason", RefusalReasonName(reason)));
    }
}

void EventLog::WriteEndedSummaries(RefusalSummary::Clock::time_point now) {
    std::vector<RefusalCount> ended;
    {
        const std::lock_guard<std::mutex> hold(m_refusalsLock);
        ended = m_refusals.Ended(now);
    }
    WriteSummaries(ended);
}

void EventLog::WriteAllSummaries(RefusalSummary::Clock::time_point now) {
    std::vector<RefusalCount> all;
    {
        const std::lock_guard<std::mutex> hold(m_refusalsLock);
        all = m_refusals.All(now);
    }
    WriteSummaries(all);
}

void EventLog::WriteSummaries(const std::vector<RefusalCount>& counts) {
    for (const RefusalCount& count : counts) {
        m_log.Write(LogLine(LogLevel::Warn, "refused_summary")
                        .Add("reason", RefusalReasonName(count.reason))
                        .Add("count", count.count)
                        .Add("seconds", static_cast<std::int64_t>(count.seconds.count())));
    }
}

void EventLog::AcceptFailed(std::error_code error) {
    m_log.Write(LogLine(LogLevel::Error, "accept_error").Add("error", ErrorText(error)));
}
