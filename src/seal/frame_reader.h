// Cuts a byte stream, received in any split, into whole framed messages and
// keeps the start of the next one until the rest arrives.
#pragma once

#include <cstdint>
#include <vector>

#include "seal/message_frame.h"
#include "seal/wipe.h"

namespace seal {

class FrameReader {
  public:
    FrameReader() = default;
    ~FrameReader() { Clear(); }
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;
    FrameReader(FrameReader&&) noexcept = default;
    FrameReader& operator=(FrameReader&&) noexcept = default;

    // Adds received bytes, then hands every whole message to handle. Each
    // header's length goes to acceptable first, so a length that cannot be
    // valid fails before its message is buffered. False as soon as either
    // says no; the reader is then of no further use.
    template <class Acceptable, class Handle>
    bool Take(Bytes received, Acceptable&& acceptable, Handle&& handle) {
        pending_.insert(pending_.end(), received.data, received.data + received.size);
        std::size_t used = 0;
        while (pending_.size() - used >= kFrameHeaderSize) {
            const std::size_t length = ReadFrameHeader(pending_.data() + used);
            if (!acceptable(length)) {
                return false;
            }
            if (pending_.size() - used - kFrameHeaderSize < length) {
                break;  // the rest of this message is still on its way
            }
            if (!handle(Bytes{pending_.data() + used + kFrameHeaderSize, length})) {
                return false;
            }
            used += kFrameHeaderSize + length;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        return true;
    }

    // No part of a message is waiting: a clean place for the stream to end.
    bool Empty() const { return pending_.empty(); }

    void Clear() {
        Wipe(pending_.data(), pending_.size());
        pending_.clear();
    }

  private:
    std::vector<std::uint8_t> pending_;
};

}  // namespace seal
