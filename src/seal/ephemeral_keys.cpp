#include "seal/ephemeral_keys.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace seal {
namespace {

// Enough for a burst of links opening at once; the rest are made inline.
constexpr std::size_t kKeptReady = 8;

class ReadyPairs {
  public:
    ReadyPairs() : m_maker([this] { MakeWhileWanted(); }) {}
    ~ReadyPairs() {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_stopping = true;
        }
        m_wanted.notify_one();
        m_maker.join();
    }
    ReadyPairs(const ReadyPairs&) = delete;
    ReadyPairs& operator=(const ReadyPairs&) = delete;

    KeyPair Take() {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_ready.empty()) {
            lock.unlock();
            return GenerateKeyPair();
        }
        KeyPair pair = m_ready.front();
        m_ready.pop_front();  // the copy left behind wipes itself
        lock.unlock();
        m_wanted.notify_one();
        return pair;
    }

  private:
    void MakeWhileWanted() {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_wanted.wait(lock, [this] { return m_stopping || m_ready.size() < kKeptReady; });
            if (m_stopping) {
                return;
            }
            lock.unlock();
            KeyPair pair = GenerateKeyPair();
            lock.lock();
            m_ready.push_back(pair);
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wanted;  // a pair was taken, or the end came
    std::deque<KeyPair> m_ready;
    bool m_stopping = false;
    std::thread m_maker;  // last: starts once the rest is ready
};

}  // namespace

KeyPair TakeEphemeralKeyPair() {
    static ReadyPairs pairs;
    return pairs.Take();
}

}  // namespace seal
