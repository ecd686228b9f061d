// Ctrl+C and termination requests, turned into a flag the main loop polls.
// The handlers do nothing but set it, so they are safe at any moment.
#pragma once

void InstallStopHandlers();
bool StopRequested();
