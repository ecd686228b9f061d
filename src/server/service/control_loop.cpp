#include "server/service/control_loop.h"

#include <asio/post.hpp>

#include <utility>

namespace {

constexpr auto kTickInterval = std::chrono::seconds(1);

}  // namespace

ControlLoop::ControlLoop(Work work) : m_work(std::move(work)) {}

void ControlLoop::RequestStop() {
    asio::post(m_context, [this] {
        m_stopped = true;
        m_context.stop();
    });
}

void ControlLoop::RequestReload() {
    asio::post(m_context, [this] {
        if (m_stopped) {
            return;
        }
        m_work.reload();
        RestartStats();
    });
}

void ControlLoop::Run() {
    WaitForTick(Clock::now() + kTickInterval);
    RestartStats();
    m_context.run();
}

// Ticks keep to whole seconds from the start, however long one took.
void ControlLoop::WaitForTick(Clock::time_point at) {
    m_tickTimer.expires_at(at);
    m_tickTimer.async_wait([this, at](std::error_code ec) {
        if (ec || m_stopped) {
            return;
        }
        m_work.tick(Clock::now());
        WaitForTick(at + kTickInterval);
    });
}

// Every interval from the start or the last reload, however long a line
// took. A wait that was already done when a reload restarted the lines is
// told apart by its number and dropped.
void ControlLoop::RestartStats() {
    ++m_statsRound;
    m_statsTimer.cancel();
    const Clock::duration interval = m_work.statsInterval();
    if (interval > Clock::duration::zero()) {
        WaitForStats(Clock::now() + interval, interval);
    }
}

void ControlLoop::WaitForStats(Clock::time_point at, Clock::duration interval) {
    m_statsTimer.expires_at(at);
    m_statsTimer.async_wait([this, at, interval, round = m_statsRound](std::error_code ec) {
        if (ec || m_stopped || round != m_statsRound) {
            return;
        }
        m_work.stats(Clock::now());
        WaitForStats(at + interval, interval);
    });
}
