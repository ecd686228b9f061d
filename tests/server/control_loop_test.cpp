// The service's control loop: requests from any thread, in the order they
// came, and statistics lines that follow the interval a reload sets.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "server/service/control_loop.h"

namespace {

using std::chrono::milliseconds;

// Counts what the loop did; each test fills in what it needs.
struct Recorded {
    std::vector<std::string> calls;
    int lines = 0;
    ControlLoop::Clock::duration interval{0};
};

ControlLoop::Work Recording(Recorded& seen) {
    ControlLoop::Work work;
    work.tick = [&seen](ControlLoop::Clock::time_point) { seen.calls.push_back("tick"); };
    work.stats = [&seen](ControlLoop::Clock::time_point) {
        ++seen.lines;
        seen.calls.push_back("stats");
    };
    work.reload = [&seen] { seen.calls.push_back("reload"); };
    work.statsInterval = [&seen] { return seen.interval; };
    return work;
}

// A stop asked for while the service still starts is carried out once the
// loop runs, after a reload asked for before it, and nothing else happens.
TEST(ControlLoopTest, RequestsBeforeRunAreCarriedOutInOrder) {
    Recorded seen;
    ControlLoop loop(Recording(seen));
    loop.RequestReload();
    loop.RequestStop();
    loop.RequestReload();
    loop.Run();
    EXPECT_EQ(seen.calls, std::vector<std::string>{"reload"});
}

TEST(ControlLoopTest, RequestsFromAnotherThreadReachTheLoop) {
    Recorded seen;
    ControlLoop loop(Recording(seen));
    std::thread requester([&loop] {
        loop.RequestReload();
        loop.RequestStop();
    });
    loop.Run();
    requester.join();
    EXPECT_EQ(seen.calls, std::vector<std::string>{"reload"});
}

// Lines every millisecond until the first one asks for a reload that turns
// them off: none may follow it, not even one whose wait had already ended.
// The first tick, a second in, ends the test.
TEST(ControlLoopTest, ReloadRestartsTheLinesAtTheIntervalItSets) {
    Recorded seen;
    seen.interval = milliseconds(1);
    ControlLoop::Work work = Recording(seen);
    ControlLoop* running = nullptr;
    work.stats = [&](ControlLoop::Clock::time_point) {
        seen.calls.push_back("stats");
        if (++seen.lines == 1) {
            running->RequestReload();
            // The next line's time passes meanwhile: its wait has ended
            // before the reload is carried out.
            std::this_thread::sleep_for(milliseconds(5));
        }
    };
    work.reload = [&] {
        seen.calls.push_back("reload");
        seen.interval = ControlLoop::Clock::duration::zero();
    };
    work.tick = [&](ControlLoop::Clock::time_point) {
        seen.calls.push_back("tick");
        running->RequestStop();
    };
    ControlLoop loop(std::move(work));
    running = &loop;
    loop.Run();
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"stats", "reload", "tick"}));
}

}  // namespace
