// What the benchmark client asks of its target on a fresh connection.
//
// The first byte names the job; bulk jobs follow it with the byte count as
// 8 bytes, little-endian:
//   'U' count: the target receives count pattern bytes, checks them, and
//              answers kUploadVerified or kUploadCorrupt;
//   'D' count: the target sends count pattern bytes, then closes;
//   'E':       the target echoes everything, starting with this byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bench::wire {

constexpr char kUpload = 'U';
constexpr char kDownload = 'D';
constexpr char kEcho = 'E';

constexpr char kUploadVerified = 'K';
constexpr char kUploadCorrupt = 'X';

constexpr size_t kBulkHeaderLength = 9;

inline std::array<uint8_t, kBulkHeaderLength> BulkHeader(char job, uint64_t count) {
    std::array<uint8_t, kBulkHeaderLength> header{};
    header[0] = static_cast<uint8_t>(job);
    for (size_t i = 0; i < 8; ++i) {
        header[1 + i] = static_cast<uint8_t>(count >> (8 * i));
    }
    return header;
}

// The relay's byte map, b -> (250 - b) mod 256, its own inverse. Through a
// relay that maps, the client sends and expects mapped bytes, so the target
// sees and sends plain ones.
inline uint8_t MapByte(uint8_t byte) {
    return static_cast<uint8_t>(250 - byte);
}

inline uint64_t BulkCount(const uint8_t* header) {
    uint64_t count = 0;
    for (size_t i = 0; i < 8; ++i) {
        count |= uint64_t{header[1 + i]} << (8 * i);
    }
    return count;
}

}  // namespace bench::wire
