#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>

#include <condition_variable>
#include <mutex>
#endif

#include <chrono>
#include <cstddef>
#include <new>

#include "platform/thread_start.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Enough parked workers to absorb a burst of short connections without
// holding much memory once it has passed.
constexpr int kMostParked = 64;
// Short enough that a quiet process soon holds only the threads it uses.
constexpr auto kIdleLife = std::chrono::seconds(2);

#ifdef _WIN32

class PoolLock {
  public:
    SRWLOCK* Native() { return &m_lock; }

  private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};

class PoolGuard {
  public:
    explicit PoolGuard(PoolLock& lock) : m_lock(lock) { AcquireSRWLockExclusive(m_lock.Native()); }
    ~PoolGuard() { ReleaseSRWLockExclusive(m_lock.Native()); }
    PoolGuard(const PoolGuard&) = delete;
    PoolGuard& operator=(const PoolGuard&) = delete;
    PoolLock& Lock() { return m_lock; }

  private:
    PoolLock& m_lock;
};

class WakeUp {
  public:
    void Signal() { WakeConditionVariable(&m_condition); }
    void WaitUntil(PoolGuard& guard, Clock::time_point deadline) {
        // Rounded up, so a wait never ends just short of its deadline and spins.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        SleepConditionVariableSRW(&m_condition, guard.Lock().Native(),
                                  left > 0 ? static_cast<DWORD>(left) : 0, 0);
    }

  private:
    CONDITION_VARIABLE m_condition = CONDITION_VARIABLE_INIT;
};

#else

// glibc's default stack is the 8 MiB stack limit, and its cache of freed
// stacks holds only a few of those; a worker needs far less (the pumps keep
// at most one small chunk on the stack).
constexpr std::size_t kStackBytes = std::size_t{256} << 10;

using PoolLock = std::mutex;
using PoolGuard = std::unique_lock<std::mutex>;

class WakeUp {
  public:
    void Signal() { m_condition.notify_one(); }
    void WaitUntil(PoolGuard& guard, Clock::time_point deadline) {
        m_condition.wait_until(guard, deadline);
    }

  private:
    std::condition_variable m_condition;
};

#endif

// A worker thread's hand-over slot. Slots are never freed, only passed on to
// later threads, so a start can wake a worker after letting go of the lock
// (the worker then need not wait for the lock itself) even if that worker has
// moved on meanwhile: a stale wake-up finds no work and is ignored.
struct Worker {
    ThreadEntry entry = nullptr;  // work handed over; null while parked idle
    void* argument = nullptr;
    WakeUp wake;
    Worker* next = nullptr;  // in the parked or the spare list
};

struct Pool {
    PoolLock lock;
    Worker* parked = nullptr;  // the most recently parked first: its stack is warm
    int parkedCount = 0;
    Worker* spare = nullptr;  // slots of ended threads
};

Pool& ThePool() {
    // Never destroyed: parked workers may still wait on it while the process exits.
    static Pool* const pool = new Pool;
    return *pool;
}

void Unlink(Pool& pool, const Worker& worker) {
    for (Worker** link = &pool.parked; *link != nullptr; link = &(*link)->next) {
        if (*link == &worker) {
            *link = worker.next;
            --pool.parkedCount;
            return;
        }
    }
}

// Called with the lock held; the slot is not touched again by its thread.
void ReleaseSlot(Pool& pool, Worker& slot) {
    slot.entry = nullptr;
    slot.next = pool.spare;
    pool.spare = &slot;
}

Worker* TakeSlot(ThreadEntry entry, void* argument) {
    Pool& pool = ThePool();
    Worker* slot = nullptr;
    {
        PoolGuard guard(pool.lock);
        slot = pool.spare;
        if (slot != nullptr) {
            pool.spare = slot->next;
        }
    }
    if (slot == nullptr) {
        slot = new (std::nothrow) Worker;
        if (slot == nullptr) {
            return nullptr;
        }
    }
    slot->entry = entry;
    slot->argument = argument;
    slot->next = nullptr;
    return slot;
}

void GiveBackSlot(Worker& slot) {
    Pool& pool = ThePool();
    PoolGuard guard(pool.lock);
    ReleaseSlot(pool, slot);
}

// Parks a worker whose work is done until new work comes; false when none
// came in time (or enough workers are parked) and the thread should end.
bool AwaitWork(Worker& self) {
    Pool& pool = ThePool();
    PoolGuard guard(pool.lock);
    if (pool.parkedCount >= kMostParked) {
        ReleaseSlot(pool, self);
        return false;
    }
    self.entry = nullptr;
    self.next = pool.parked;
    pool.parked = &self;
    ++pool.parkedCount;
    const Clock::time_point deadline = Clock::now() + kIdleLife;
    while (self.entry == nullptr) {
        if (Clock::now() >= deadline) {
            Unlink(pool, self);
            ReleaseSlot(pool, self);
            return false;
        }
        self.wake.WaitUntil(guard, deadline);
    }
    return true;
}

bool HandToParked(ThreadEntry entry, void* argument) {
    Pool& pool = ThePool();
    Worker* worker = nullptr;
    {
        PoolGuard guard(pool.lock);
        worker = pool.parked;
        if (worker == nullptr) {
            return false;
        }
        pool.parked = worker->next;
        --pool.parkedCount;
        worker->entry = entry;
        worker->argument = argument;
    }
    worker->wake.Signal();
    return true;
}

void RunWorker(void* slot) {
    Worker& self = *static_cast<Worker*>(slot);
    do {
        self.entry(self.argument);
    } while (AwaitWork(self));
}

#ifdef _WIN32
unsigned __stdcall ThreadMain(void* start) {
    RunWorker(start);
    return 0;
}
#else
void* ThreadMain(void* start) {
    RunWorker(start);
    return nullptr;
}
#endif

bool StartNewThread(Worker* start) {
#ifdef _WIN32
    const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadMain, start, 0, nullptr);
    if (handle == 0) {
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
#else
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, kStackBytes);
    pthread_t thread;
    const int result = pthread_create(&thread, &attributes, ThreadMain, start);
    pthread_attr_destroy(&attributes);
    return result == 0;
#endif
}

}  // namespace

bool StartDetachedThread(ThreadEntry entry, void* argument) {
    if (HandToParked(entry, argument)) {
        return true;
    }
    Worker* slot = TakeSlot(entry, argument);
    if (slot == nullptr) {
        return false;
    }
    if (!StartNewThread(slot)) {
        GiveBackSlot(*slot);
        return false;
    }
    return true;
}

int ParkedThreadCount() {
    Pool& pool = ThePool();
    PoolGuard guard(pool.lock);
    return pool.parkedCount;
}

}  // namespace platform
