// Stop and reload requests from outside (SIGTERM, SIGINT, Ctrl+C; SIGHUP),
// turned into flags the main loop polls. The handlers only set flags, except
// that a second stop request ends the process at once.
#pragma once

void InstallSignalHandlers();
bool StopRequested();
// True once for each reload request (SIGHUP; none on Windows).
bool TakeReloadRequest();
