// A reproducible stream of pseudo-random bytes, one per connection and
// direction, so each end can check what arrives without keeping a copy.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteStream {
  public:
    ByteStream() = default;
    ByteStream(std::uint32_t connection, int direction)
        : state_(Mix((static_cast<std::uint64_t>(connection) << 1) | (direction & 1))) {}

    void Fill(std::uint8_t* data, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            data[i] = Next();
        }
    }

    // Index of the first byte that differs from the stream, or length when all match.
    std::size_t Check(const std::uint8_t* data, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            if (data[i] != Next()) {
                return i;
            }
        }
        return length;
    }

  private:
    static std::uint64_t Mix(std::uint64_t value) {
        // splitmix64: neighbouring seeds give unrelated streams.
        value += 0x9E3779B97F4A7C15ULL;
        value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
        value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
        return (value ^ (value >> 31)) | 1;
    }

    std::uint8_t Next() {
        if (left_ == 0) {
            // xorshift64*
            state_ ^= state_ >> 12;
            state_ ^= state_ << 25;
            state_ ^= state_ >> 27;
            word_ = state_ * 0x2545F4914F6CDD1DULL;
            left_ = 8;
        }
        --left_;
        auto byte = static_cast<std::uint8_t>(word_);
        word_ >>= 8;
        return byte;
    }

    std::uint64_t state_ = 1;
    std::uint64_t word_ = 0;
    int left_ = 0;
};
