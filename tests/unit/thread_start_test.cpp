// Worker threads: every entry runs at once on a thread of its own, finished
// workers take later entries, and idle ones end.
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "platform/thread_start.h"
#include "wait.h"

namespace {

constexpr std::chrono::milliseconds kWait{10000};

unsigned long CurrentThreadNumber() {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<unsigned long>(::syscall(SYS_gettid));
#endif
}

// Entries that each wait until all of a batch are running, so a batch ends
// only if every entry got a thread of its own.
struct Batch {
    int size = 0;
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<bool> timedOut{false};
    std::mutex lock;
    std::set<unsigned long> threads;

    static unsigned Entry(void* argument) {
        auto* batch = static_cast<Batch*>(argument);
        {
            const std::lock_guard<std::mutex> guard(batch->lock);
            batch->threads.insert(CurrentThreadNumber());
        }
        batch->started.fetch_add(1);
        if (!testing_support::WaitUntil([batch] { return batch->started.load() == batch->size; },
                                        kWait)) {
            batch->timedOut = true;
        }
        batch->finished.fetch_add(1);
        return 0;
    }

    bool Run(int count) {
        size = count;
        for (int i = 0; i < count; ++i) {
            if (!platform::StartDetachedThread(Entry, this)) {
                return false;
            }
        }
        return testing_support::WaitUntil([this] { return finished.load() == size; }, 2 * kWait) &&
               !timedOut.load();
    }
};

#ifndef _WIN32
int TaskCount() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(tasks);
    }
    return count;
}
#endif

TEST(ThreadStart, EntriesNeverWaitForEachOtherAlsoWhenWorkersAreReused) {
    // The second batch meets the first one's parked workers and needs more.
    for (const int size : {6, 12}) {
        SCOPED_TRACE(size);
        Batch batch;
        ASSERT_TRUE(batch.Run(size)) << batch.started.load() << " of " << size << " started";
        EXPECT_EQ(batch.threads.size(), static_cast<std::size_t>(size));
    }
}

TEST(ThreadStart, FinishedWorkerTakesTheNextEntryAndEndsWhenIdle) {
    ASSERT_TRUE(
        testing_support::WaitUntil([] { return platform::ParkedThreadCount() == 0; }, kWait));
    Batch first;
    ASSERT_TRUE(first.Run(1));
    ASSERT_TRUE(
        testing_support::WaitUntil([] { return platform::ParkedThreadCount() == 1; }, kWait));
#ifndef _WIN32
    // Counted with the worker alive: a sanitizer may start a thread of its own with the first.
    const int tasksWithWorker = TaskCount();
#endif
    Batch second;
    ASSERT_TRUE(second.Run(1));
    EXPECT_EQ(second.threads, first.threads);

    EXPECT_TRUE(
        testing_support::WaitUntil([] { return platform::ParkedThreadCount() == 0; }, kWait));
#ifndef _WIN32
    EXPECT_TRUE(
        testing_support::WaitUntil([&] { return TaskCount() == tasksWithWorker - 1; }, kWait))
        << "the idle worker did not end";
#endif
}

}  // namespace
