#include "cli/stop_signal.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

// Lock-free, so setting it from a signal handler is allowed.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
    gStopRequested.store(true);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process once this returns; give the main loop
        // time to stop listening and exit first.
        Sleep(5000);
    }
    return TRUE;
}
#else
void OnStopSignal(int /*signal*/) {
    gStopRequested.store(true);
}
#endif

}  // namespace

void InstallStopHandlers() {
#ifdef _WIN32
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool StopRequested() {
    return gStopRequested.load();
}
