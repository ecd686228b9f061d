#include "stream_pattern.h"

#include <algorithm>
#include <cstring>

#include "wire.h"

namespace bench {
namespace {

constexpr size_t kPeriodLength = (size_t{1} << 20) - 7;

}  // namespace

const StreamPattern& StreamPattern::Instance(bool mapped) {
    static const StreamPattern plain(false);
    static const StreamPattern through_map(true);
    return mapped ? through_map : plain;
}

StreamPattern::StreamPattern(bool mapped) : period_(kPeriodLength) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (uint8_t& byte : period_) {
        // xorshift64: cheap and without short cycles.
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<uint8_t>(state >> 56);
        if (mapped) {
            byte = wire::MapByte(byte);
        }
    }
}

const uint8_t* StreamPattern::At(uint64_t offset, size_t* contiguous) const {
    const size_t start = static_cast<size_t>(offset % period_.size());
    *contiguous = period_.size() - start;
    return period_.data() + start;
}

bool StreamPattern::Matches(uint64_t offset, const uint8_t* data, size_t length) const {
    while (length > 0) {
        size_t contiguous = 0;
        const uint8_t* expected = At(offset, &contiguous);
        const size_t step = std::min(length, contiguous);
        if (std::memcmp(expected, data, step) != 0) {
            return false;
        }
        offset += step;
        data += step;
        length -= step;
    }
    return true;
}

}  // namespace bench
