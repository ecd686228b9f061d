// The endless deterministic byte stream that every bulk transfer carries, so
// the receiver can check each byte at its offset without keeping a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

class StreamPattern {
  public:
    // The stream as the target sends and checks it; mapped: every byte put
    // through the byte map, as the client of a mapping relay sees it.
    static const StreamPattern& Instance(bool mapped = false);

    // Bytes of the stream from offset on, and how many follow contiguously.
    const uint8_t* At(uint64_t offset, size_t* contiguous) const;

    // True when data equals the stream's bytes at [offset, offset + length).
    bool Matches(uint64_t offset, const uint8_t* data, size_t length) const;

  private:
    explicit StreamPattern(bool mapped);

    // Pseudo-random bytes whose odd length is no multiple of any relay's chunk
    // size, so a lost, doubled or reordered chunk never lines up again.
    std::vector<uint8_t> period_;
};

}  // namespace bench
