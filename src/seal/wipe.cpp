#include "seal/wipe.h"

namespace seal {

void Wipe(void* data, std::size_t size) {
    // Writes through a volatile pointer are observable, so they stay.
    volatile std::uint8_t* bytes = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace seal
