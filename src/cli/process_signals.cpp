#include "cli/process_signals.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// Lock-free, so setting them from a signal handler is allowed.
std::atomic<bool> gStopRequested{false};
std::atomic<bool> gReloadRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The line of the one exit that skips the drain; no time stamp, since the
// handler may only make async-signal-safe calls.
constexpr char kEndingAtOnce[] = "level=warn event=stopped_at_once\n";

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (gStopRequested.exchange(true) && event != CTRL_CLOSE_EVENT) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kEndingAtOnce, sizeof kEndingAtOnce - 1, &written,
                  nullptr);
        // Not ExitProcess: it runs the DLLs' detach code after ending the
        // other threads, and hangs when one of them held a lock that code
        // takes (the C runtime's stream locks, say).
        TerminateProcess(GetCurrentProcess(), 0);
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process once this returns; give the main loop
        // time to stop listening and exit first.
        Sleep(5000);
    }
    return TRUE;
}
#else
void OnStopSignal(int /*signal*/) {
    if (gStopRequested.exchange(true)) {
        const ssize_t ignored = write(STDERR_FILENO, kEndingAtOnce, sizeof kEndingAtOnce - 1);
        (void)ignored;
        _exit(0);
    }
}

void OnReloadSignal(int /*signal*/) {
    gReloadRequested.store(true);
}
#endif

}  // namespace

void InstallSignalHandlers() {
#ifdef _WIN32
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
#else
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = &OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = &OnReloadSignal;
    sigaction(SIGHUP, &action, nullptr);
    // A client gone while the relay writes to it is an error on that socket, not a signal.
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, nullptr);
#endif
}

bool StopRequested() {
    return gStopRequested.load();
}

bool TakeReloadRequest() {
    return gReloadRequested.exchange(false);
}
