// Starts a detached worker thread. Nothing joins it; the entry's result is
// its exit code and nobody reads it.
//
// Starting and ending a thread costs more than relaying a short connection,
// so a finished worker stays parked for a short while and the next start
// hands its work to it. Every entry still runs on a thread of its own, at
// once: a start never waits for another entry to finish.
#pragma once

namespace platform {

using ThreadEntry = unsigned (*)(void* argument);

// False when the system cannot start the thread; the entry then never runs.
bool StartDetachedThread(ThreadEntry entry, void* argument);

// Finished workers now waiting for work; each ends after a short idle spell.
int ParkedThreadCount();

}  // namespace platform
