// Chunk buffers for one event worker. A connection holds a buffer only while
// its bytes are in flight, so idle connections cost no buffer memory; freed
// buffers are kept for reuse up to a bound, the rest go back to the heap.
// Used by one worker thread only: no lock.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class BufferPool {
  public:
    using Buffer = std::unique_ptr<char[]>;

    explicit BufferPool(std::size_t keepAtMost = 16) : m_keepAtMost(keepAtMost) {}

    // A buffer of at least `size` bytes; the pool's size changes with the run.
    Buffer Take(std::size_t size) {
        if (size != m_size) {
            m_free.clear();
            m_size = size;
        }
        if (m_free.empty()) {
            return Buffer(new char[size]);
        }
        Buffer buffer = std::move(m_free.back());
        m_free.pop_back();
        return buffer;
    }

    void Give(Buffer buffer, std::size_t size) {
        if (size == m_size && m_free.size() < m_keepAtMost) {
            m_free.push_back(std::move(buffer));
        }
    }

  private:
    std::size_t m_keepAtMost;
    std::size_t m_size = 0;
    std::vector<Buffer> m_free;
};
