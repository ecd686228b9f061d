#include "relay/event/lookup_pool.h"

#include <asio/post.hpp>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>

// A job is in `queue` (and `place` points at it) until a thread takes it.
struct LookupPool::Job {
    std::string host;
    std::string service;
    asio::io_context* context = nullptr;
    Answer answer;  // emptied once it is posted or dropped
    bool queued = false;
    std::list<std::shared_ptr<Job>>::iterator place;
};

// What the threads share with the pool; each thread holds it too, so a thread
// left in a look-up after the pool has gone still finds its lock.
struct LookupPool::Shared {
    std::mutex lock;
    std::condition_variable work;   // a job queued, or the pool ended
    std::condition_variable ended;  // a thread has ended
    std::list<std::shared_ptr<Job>> queue;
    std::vector<std::thread> threads;
    int running = 0;  // threads not yet ended
    int idle = 0;     // threads waiting for a job
    bool stopped = false;
};

namespace {

using tcp = asio::ip::tcp;

// Takes jobs until the pool ends. Answers are posted under the lock, so once
// the pool has ended none can reach a context that may be gone.
void Serve(const std::shared_ptr<LookupPool::Shared>& shared) {
    asio::io_context own;  // asio's resolver needs one; its blocking calls never run it
    tcp::resolver resolver(own);
    std::unique_lock<std::mutex> lock(shared->lock);
    for (;;) {
        ++shared->idle;
        shared->work.wait(lock, [&] { return shared->stopped || !shared->queue.empty(); });
        --shared->idle;
        if (shared->stopped) {
            break;
        }
        std::shared_ptr<LookupPool::Job> job = std::move(shared->queue.front());
        shared->queue.pop_front();
        job->queued = false;
        const std::string host = job->host;
        const std::string service = job->service;
        lock.unlock();

        std::error_code ec;
        std::vector<tcp::endpoint> found;
        for (const auto& entry : resolver.resolve(host, service, ec)) {
            found.push_back(entry.endpoint());
        }

        lock.lock();
        if (!shared->stopped && job->answer) {
            asio::post(*job->context,
                       [answer = std::move(job->answer), ec, found = std::move(found)]() mutable {
                           answer(ec, std::move(found));
                       });
        }
        job->answer = nullptr;
    }
    --shared->running;
    shared->ended.notify_all();
}

}  // namespace

LookupPool::Pending::Pending(std::shared_ptr<Shared> shared, std::shared_ptr<Job> job)
    : m_shared(std::move(shared)), m_job(std::move(job)) {}

LookupPool::Pending& LookupPool::Pending::operator=(Pending&& other) noexcept {
    if (this != &other) {
        Cancel();
        m_shared = std::move(other.m_shared);
        m_job = std::move(other.m_job);
    }
    return *this;
}

void LookupPool::Pending::Cancel() {
    if (!m_job) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        if (m_job->queued) {
            m_shared->queue.erase(m_job->place);
            m_job->queued = false;
        }
        m_job->answer = nullptr;
    }
    m_job.reset();
    m_shared.reset();
}

LookupPool::LookupPool() : m_shared(std::make_shared<Shared>()) {}

// A thread inside getaddrinfo cannot be woken: the system's time-outs end it,
// which may take many seconds. The threads are waited for briefly, which
// lets idle ones end and be joined; if one is still in a look-up after that,
// all are detached instead, so stopping the relay never waits on a name
// server. A detached thread holds the shared state and posts nothing more.
LookupPool::~LookupPool() {
    std::unique_lock<std::mutex> lock(m_shared->lock);
    m_shared->stopped = true;
    for (const auto& job : m_shared->queue) {
        job->queued = false;
        job->answer = nullptr;
    }
    m_shared->queue.clear();
    m_shared->work.notify_all();
    const bool allEnded = m_shared->ended.wait_for(lock, std::chrono::milliseconds(500),
                                                   [&] { return m_shared->running == 0; });
    std::vector<std::thread> threads = std::move(m_shared->threads);
    lock.unlock();
    for (std::thread& thread : threads) {
        if (allEnded) {
            thread.join();
        } else {
            thread.detach();
        }
    }
}

LookupPool::Pending LookupPool::Start(const std::string& host, std::uint16_t port,
                                      asio::io_context& context, Answer answer) {
    auto job = std::make_shared<Job>();
    job->host = host;
    job->service = std::to_string(port);
    job->context = &context;
    job->answer = std::move(answer);

    std::lock_guard<std::mutex> guard(m_shared->lock);
    if (m_shared->stopped || m_shared->queue.size() >= kQueued) {
        return {};
    }
    if (static_cast<std::size_t>(m_shared->idle) <= m_shared->queue.size() &&
        m_shared->running < kThreads) {
        try {
            m_shared->threads.emplace_back([shared = m_shared] { Serve(shared); });
            ++m_shared->running;
        } catch (const std::system_error&) {
            // No new thread: the job waits for one that runs, if any does.
            if (m_shared->running == 0) {
                return {};
            }
        }
    }
    job->queued = true;
    job->place = m_shared->queue.insert(m_shared->queue.end(), job);
    m_shared->work.notify_one();
    return Pending(m_shared, std::move(job));
}

bool IsRelayableTarget(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return IsRelayableTarget(asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()));
    }
    return !address.is_unspecified() && !address.is_multicast();
}
