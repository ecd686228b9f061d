// The texts of the relay's options and config values turned into numbers.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/ipv4_text.h"
#include "cli/number_text.h"
#include "settings/field_integer.h"

namespace {

TEST(AllowRangeTest, ParsesAddressesAndPrefixes) {
    struct Case {
        const char* text = nullptr;
        std::optional<std::uint32_t> network;
        std::uint32_t mask = 0;
    };
    const Case cases[] = {
        {"127.0.0.1", 0x7F000001, 0xFFFFFFFF},
        {"10.1.2.3/8", 0x0A000000, 0xFF000000},
        {"192.168.1.77/24", 0xC0A80100, 0xFFFFFF00},
        {"255.255.255.255/32", 0xFFFFFFFF, 0xFFFFFFFF},
        {"1.2.3.4/0", 0, 0},  // every address
        {"0.0.0.0/1", 0, 0x80000000},
        {"10.0.0.0/33", std::nullopt, 0},
        {"10.0.0.0/", std::nullopt, 0},
        {"10.0.0.0/08", std::nullopt, 0},
        {"10.0.0.0/-1", std::nullopt, 0},
        {"256.0.0.1", std::nullopt, 0},
        {"010.0.0.1", std::nullopt, 0},  // octal in inet_addr: refused, not guessed
        {"1.2.3", std::nullopt, 0},
        {"1.2.3.4.5", std::nullopt, 0},
        {"1..3.4", std::nullopt, 0},
        {"1.2.3.4 ", std::nullopt, 0},
        {"+1.2.3.4", std::nullopt, 0},
        {"", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        const auto range = ParseAllowRange(c.text);
        ASSERT_EQ(range.has_value(), c.network.has_value()) << c.text;
        if (range) {
            EXPECT_EQ(range->network, *c.network) << c.text;
            EXPECT_EQ(range->mask, c.mask) << c.text;
        }
    }
}

TEST(AllowRangeTest, ListSkipsBlanksAndNamesTheBadItem) {
    const auto ranges = ParseAllowList(" 10.0.0.0/8 ,, 127.0.0.1,");
    ASSERT_TRUE(ranges.has_value());
    ASSERT_EQ(ranges->size(), 2U);
    EXPECT_EQ((*ranges)[1].network, 0x7F000001U);
    EXPECT_EQ(ParseAllowList("")->size(), 0U);

    std::string bad;
    EXPECT_FALSE(ParseAllowList("10.0.0.0/8, 10.0.0.0/99", &bad).has_value());
    EXPECT_EQ(bad, "10.0.0.0/99");
}

TEST(AllowRangeTest, NetworkOrderPutsTheFirstPartFirst) {
    const std::uint32_t network = ToNetworkOrder(0x7F000002);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&network);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[3], 2);
}

TEST(FieldIntegerTest, ReadsLikeAnEditFieldRead) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"1987", 1987},
        {"70000", 70000},
        {"12abc", 12},
        {" 7", 7},
        {"\r\n\t9", 9},
        {" - 3", 0},
        {"-5", -5},
        {"+3", 3},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", 0},
        {"99999999999999999999999", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadFieldInteger(c.text), c.value) << c.text;
    }
}

TEST(UnsignedDecimalTest, AcceptsDigitsUpToTheMaximum) {
    EXPECT_EQ(ParseUnsignedDecimal("65535", 65535), 65535);
    EXPECT_EQ(ParseUnsignedDecimal("0", 65535), 0);
    for (const char* bad : {"65536", "", "-1", "+1", " 1", "1 ", "0x10", "99999999999999999999"}) {
        EXPECT_FALSE(ParseUnsignedDecimal(bad, 65535).has_value()) << bad;
    }
}

}  // namespace
