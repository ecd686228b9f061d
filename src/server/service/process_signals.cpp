#include "server/service/process_signals.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> gStopRequested{false};
std::atomic<bool> gReloadRequested{false};
std::function<void()> gOnSecondStop;  // set once, before any request can come

// Ends the process without waiting for anything: connections are cut.
[[noreturn]] void EndAtOnce() {
    if (gOnSecondStop) {
        gOnSecondStop();
    }
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    // Not ExitProcess: it runs the DLLs' detach code after ending the other
    // threads, and hangs when one of them held a lock that code takes (the C
    // runtime's stream locks, say).
    TerminateProcess(GetCurrentProcess(), 0);
#endif
    std::_Exit(0);
}

void RequestStop() {
    if (gStopRequested.exchange(true)) {
        EndAtOnce();
    }
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        gStopRequested.store(true);
        // Windows ends the process once this returns; give the main loop
        // time to stop listening and exit first.
        Sleep(5000);
        return TRUE;
    }
    RequestStop();
    return TRUE;
}
#else
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void WatchSignals(sigset_t set) {
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) {
            continue;
        }
        if (signal == SIGHUP) {
            gReloadRequested.store(true);
        } else {
            RequestStop();
        }
    }
}
#endif

}  // namespace

void HoldSignals() {
#ifndef _WIN32
    // A client gone while the relay writes to it is an error on that socket, not a signal.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started after
#endif
}

void InstallSignalHandlers(std::function<void()> onSecondStop) {
    gOnSecondStop = std::move(onSecondStop);
#ifdef _WIN32
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
#else
    HoldSignals();  // main has held them already; a second block changes nothing
    std::thread(WatchSignals, WatchedSignals()).detach();
#endif
}

bool StopRequested() {
    return gStopRequested.load();
}

bool TakeReloadRequest() {
    return gReloadRequested.exchange(false);
}
