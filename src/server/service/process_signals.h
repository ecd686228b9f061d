// Stop and reload requests from outside (SIGTERM, SIGINT, Ctrl+C; SIGHUP),
// turned into flags the main loop polls. A second stop request ends the
// process at once, after `onSecondStop` (which logs it).
#pragma once

#include <functional>

// Call first in main, before the config is read: on POSIX the stop and
// reload signals are blocked from then on (and so in every thread started
// later), so one that comes early waits instead of ending the process by
// its default action. Nothing on Windows.
void HoldSignals();
// Call before any engine thread starts: the held signals, and every later
// one, are taken by one thread of their own, so none of them lands on an
// engine thread waiting in the kernel. A reload asked for before this is
// carried out once the service runs; a stop, before it serves anyone.
void InstallSignalHandlers(std::function<void()> onSecondStop);
bool StopRequested();
// True once for each reload request (SIGHUP; none on Windows).
bool TakeReloadRequest();
