// The service's control loop on an io_context of its own, run by the thread
// that calls Run: a tick once a second, a statistics line every interval, a
// reload when one is asked for, until a stop is asked for. Everything it does
// arrives as an event; nothing polls.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <functional>

class ControlLoop {
  public:
    using Clock = std::chrono::steady_clock;

    struct Work {
        std::function<void(Clock::time_point)> tick;   // once a second
        std::function<void(Clock::time_point)> stats;  // every statsInterval()
        std::function<void()> reload;
        // Asked when Run begins and after every reload; zero: no statistics.
        std::function<Clock::duration()> statsInterval;
    };

    explicit ControlLoop(Work work);
    ControlLoop(const ControlLoop&) = delete;
    ControlLoop& operator=(const ControlLoop&) = delete;

    // From any thread, also before Run; carried out in the order they came.
    void RequestStop();
    void RequestReload();
    // Until a stop is carried out.
    void Run();

  private:
    void WaitForTick(Clock::time_point at);
    // Lines from now on, at the interval as it is now.
    void RestartStats();
    void WaitForStats(Clock::time_point at, Clock::duration interval);

    Work m_work;
    asio::io_context m_context{1};
    asio::steady_timer m_tickTimer{m_context};
    asio::steady_timer m_statsTimer{m_context};
    // Set by the stop: a stopped context may still run what was ready (the
    // Windows one does), which must then do nothing.
    bool m_stopped = false;
    unsigned m_statsRound = 0;  // moves on when the lines restart
};
