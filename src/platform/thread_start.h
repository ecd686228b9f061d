// Starts a detached worker thread. Nothing joins it; the entry's result is
// its exit code and nobody reads it.
#pragma once

namespace platform {

using ThreadEntry = unsigned (*)(void* argument);

// False when the system cannot start the thread; the entry then never runs.
bool StartDetachedThread(ThreadEntry entry, void* argument);

}  // namespace platform
