#include "stats/byte_size.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr int kKiloShift = 10;
constexpr int kMegaShift = 20;
constexpr int kGigaShift = 30;
constexpr std::int64_t kKilo = std::int64_t{1} << kKiloShift;
constexpr std::int64_t kMega = std::int64_t{1} << kMegaShift;
constexpr std::int64_t kGiga = std::int64_t{1} << kGigaShift;

// count / 2^shift with one decimal, an exact half rounding up. Integer
// arithmetic: printf's %.1f rounds binary halves to even and uses the
// locale's decimal point.
std::string OneDecimal(std::int64_t count, int shift, const char* unit) {
    const std::int64_t tenths = (count * 10 + (std::int64_t{1} << (shift - 1))) >> shift;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%d %s", tenths / 10,
                  static_cast<int>(tenths % 10), unit);
    return text;
}

std::string Whole(std::int64_t value, const char* unit) {
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 " %s", value, unit);
    return text;
}

}  // namespace

std::string FormatByteSize(std::int64_t count) {
    if (count < 0) {
        return "0 Byte";
    }
    if (count < 2) {
        return Whole(count, "Byte");
    }
    if (count < 102) {
        return Whole(count, "Bytes");
    }
    if (count < 100 * kKilo) {
        return OneDecimal(count, kKiloShift, "KB");
    }
    if (count < kMega) {
        return Whole(count >> kKiloShift, "KB");
    }
    if (count < 100 * kMega) {
        return OneDecimal(count, kMegaShift, "MB");
    }
    if (count < kGiga) {
        return Whole(count >> kMegaShift, "MB");
    }
    if (count < 100 * kGiga) {
        return OneDecimal(count, kGigaShift, "GB");
    }
    return Whole(count >> kGigaShift, "GB");
}
