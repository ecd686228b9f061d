// Clearing secrets from memory in a way the compiler may not drop as a dead
// store, and a fixed-size secret that clears itself when it goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace seal {

void Wipe(void* data, std::size_t size);

template <std::size_t N>
struct Secret {
    std::array<std::uint8_t, N> bytes{};

    Secret() = default;
    Secret(const Secret&) = default;
    Secret& operator=(const Secret&) = default;
    ~Secret() { Wipe(bytes.data(), bytes.size()); }

    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    static constexpr std::size_t size() { return N; }
};

}  // namespace seal
