#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

#include "stats/byte_size.h"

namespace {

struct SizeCase {
    std::int64_t count;
    const char* text;
};

constexpr std::int64_t kGiga = std::int64_t{1} << 30;

const SizeCase kCases[] = {
    // Every row below 2^31 as the window has always shown it.
    {-2147483648LL, "0 Byte"},
    {-1, "0 Byte"},
    {0, "0 Byte"},
    {1, "1 Byte"},
    {2, "2 Bytes"},
    {101, "101 Bytes"},
    {102, "0.1 KB"},
    {153, "0.1 KB"},
    {154, "0.2 KB"},
    {256, "0.3 KB"},
    {1023, "1.0 KB"},
    {1024, "1.0 KB"},
    {1280, "1.3 KB"},  // exact half rounds up
    {3840, "3.8 KB"},  // exact half rounds up
    {102399, "100.0 KB"},
    {102400, "100 KB"},
    {1048575, "1023 KB"},
    {1048576, "1.0 MB"},
    {1310720, "1.3 MB"},
    {104857599, "100.0 MB"},
    {104857600, "100 MB"},
    {1073741823, "1023 MB"},
    {1073741824, "1.0 GB"},
    {1342177280, "1.3 GB"},
    {2147483647, "2.0 GB"},
    // 64-bit totals: no wrap to "0 Byte", gigabytes stay the largest unit.
    {std::int64_t{1} << 31, "2.0 GB"},
    {(std::int64_t{1} << 32) + 1, "4.0 GB"},
    {kGiga * 5 / 4 * 2, "2.5 GB"},
    {100 * kGiga - 1, "100.0 GB"},
    {100 * kGiga, "100 GB"},
    {1536 * kGiga, "1536 GB"},
    {INT64_MIN, "0 Byte"},
    {INT64_MAX, "8589934591 GB"},
};

TEST(FormatByteSize, GivesTheTextOfEveryRange) {
    for (const SizeCase& c : kCases) {
        EXPECT_EQ(FormatByteSize(c.count), c.text) << c.count;
    }
}

TEST(FormatByteSize, IgnoresTheLocalesDecimalSeparator) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "German"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            switched = true;
            break;
        }
    }
    const std::string kilo = FormatByteSize(1280);
    const std::string giga = FormatByteSize(3 * kGiga / 2);
    std::setlocale(LC_ALL, saved.c_str());
    if (!switched) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    EXPECT_EQ(kilo, "1.3 KB");
    EXPECT_EQ(giga, "1.5 GB");
}

}  // namespace
