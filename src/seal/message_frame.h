// On the wire every Noise message, handshake or transport, goes as a 2-byte
// big-endian length and then that many bytes; a message is at most 65,535
// bytes, tag included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "seal/cipher_state.h"

namespace seal {

constexpr std::size_t kFrameHeaderSize = 2;
constexpr std::size_t kMaxMessageSize = 65535;
constexpr std::size_t kMaxPayloadSize = kMaxMessageSize - kTagSize;

inline void AppendFrameHeader(std::size_t message_size, std::vector<std::uint8_t>& out) {
    out.push_back(static_cast<std::uint8_t>(message_size >> 8));
    out.push_back(static_cast<std::uint8_t>(message_size & 0xFF));
}

inline std::size_t ReadFrameHeader(const std::uint8_t* header) {
    return (std::size_t{header[0]} << 8) | header[1];
}

}  // namespace seal
