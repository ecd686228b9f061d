#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <new>

#include "platform/thread_start.h"

namespace platform {
namespace {

struct ThreadStart {
    ThreadEntry entry;
    void* argument;
};

unsigned RunEntry(void* start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    return copy.entry(copy.argument);
}

#ifdef _WIN32
unsigned __stdcall ThreadMain(void* start) {
    return RunEntry(start);
}
#else
void* ThreadMain(void* start) {
    RunEntry(start);
    return nullptr;
}
#endif

}  // namespace

bool StartDetachedThread(ThreadEntry entry, void* argument) {
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (start == nullptr) {
        return false;
    }
#ifdef _WIN32
    const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadMain, start, 0, nullptr);
    if (handle == 0) {
        delete start;
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
#else
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int result = pthread_create(&thread, &attributes, ThreadMain, start);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete start;
        return false;
    }
    return true;
#endif
}

}  // namespace platform
