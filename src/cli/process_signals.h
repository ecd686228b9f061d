// Stop and reload requests from outside (SIGTERM, SIGINT, Ctrl+C; SIGHUP),
// turned into flags the main loop polls. A second stop request ends the
// process at once, after `onSecondStop` (which logs it).
#pragma once

#include <functional>

// Call before any other thread starts: on POSIX the signals are blocked in
// every thread and taken by one thread of their own, so none of them lands
// on an engine thread waiting in the kernel.
void InstallSignalHandlers(std::function<void()> onSecondStop);
bool StopRequested();
// True once for each reload request (SIGHUP; none on Windows).
bool TakeReloadRequest();
