// Stop and reload requests from outside (SIGTERM, SIGINT, Ctrl+C; SIGHUP),
// handed to whoever serves them. A second stop request ends the process at
// once, after `onSecondStop` (which logs it), even while the first one is
// being carried out: the requests are taken on a thread that nothing else
// holds up (on Windows, the console's own).
#pragma once

#include <functional>
#include <memory>

// Call first in main, before the config is read: on POSIX the stop and
// reload signals are blocked from then on (and so in every thread started
// later), so one that comes early waits instead of ending the process by
// its default action. Nothing on Windows.
void HoldSignals();

// Takes the requests while it lives; one per process. On POSIX its own
// thread alone unblocks the held signals, so none of them lands on an engine
// thread waiting in the kernel, and one held since main began is taken now.
class SignalWatch {
  public:
    explicit SignalWatch(std::function<void()> onSecondStop);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

  private:
    struct SignalThread;
    std::unique_ptr<SignalThread> m_thread;  // POSIX only
};

// Where requests go; called on the watch's thread, so each must return soon.
struct SignalRequests {
    std::function<void()> stop;
    std::function<void()> reload;
};

// While it lives, requests go to `requests`. One that came before it is
// handed over at once: a stop, or else a reload. After a stop, a reload is
// dropped. Requests that come after it are not served.
class ServedSignals {
  public:
    explicit ServedSignals(SignalRequests requests);
    ~ServedSignals();
    ServedSignals(const ServedSignals&) = delete;
    ServedSignals& operator=(const ServedSignals&) = delete;
};
