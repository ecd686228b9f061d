// Bytes that no relay could pass intact by chance, the same for a seed on
// every run.
#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace testing_support {

inline std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

}  // namespace testing_support
