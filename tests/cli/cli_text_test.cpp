// The texts of the relay's options and config values turned into numbers.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/address_text.h"
#include "cli/number_text.h"
#include "settings/field_integer.h"

namespace {

TEST(AllowRangeTest, ListSkipsBlanksAndNamesTheBadItem) {
    const auto ranges = ParseAllowList(" 10.0.0.0/8 ,, 127.0.0.1,");
    ASSERT_TRUE(ranges.has_value());
    ASSERT_EQ(ranges->size(), 2U);
    EXPECT_EQ((*ranges)[1].ToString(), "127.0.0.1/32");
    EXPECT_EQ(ParseAllowList("")->size(), 0U);

    std::string bad;
    EXPECT_FALSE(ParseAllowList("10.0.0.0/8, 10.0.0.0/99", &bad).has_value());
    EXPECT_EQ(bad, "10.0.0.0/99");
    const auto mixed = ParseAllowList("fd00::/8,10.0.0.0/8");
    ASSERT_TRUE(mixed.has_value());
    EXPECT_EQ((*mixed)[0].ToString(), "fd00::/8");
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
