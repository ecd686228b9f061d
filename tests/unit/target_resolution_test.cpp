#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/host_lookup.h"
#include "platform/net.h"
#include "relay/target_resolution.h"

namespace {

// a.b.c.d in network byte order, whatever the host's byte order.
std::uint32_t Address(int a, int b, int c, int d) {
    std::uint32_t addr = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&addr);
    bytes[0] = static_cast<unsigned char>(a);
    bytes[1] = static_cast<unsigned char>(b);
    bytes[2] = static_cast<unsigned char>(c);
    bytes[3] = static_cast<unsigned char>(d);
    return addr;
}

class TargetResolution : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(net::StartSockets()); }
};

TEST_F(TargetResolution, OnlyDigitsAndDotsCountAsDotted) {
    EXPECT_TRUE(IsDottedAddress(""));
    EXPECT_TRUE(IsDottedAddress("127.0.0.1"));
    EXPECT_TRUE(IsDottedAddress("1234"));
    EXPECT_TRUE(IsDottedAddress("1.2.3.4.5"));
    EXPECT_FALSE(IsDottedAddress("10.0.0.1a"));
    EXPECT_FALSE(IsDottedAddress("0x7f.1"));
    EXPECT_FALSE(IsDottedAddress("1.2.3.4 "));
    EXPECT_FALSE(IsDottedAddress("-1"));
    EXPECT_FALSE(IsDottedAddress("1\xB2"));  // a byte above 0x7F, even a superscript digit
}

TEST_F(TargetResolution, DottedTextUsesTheClassicConversion) {
    struct Case {
        const char* text;
        std::uint32_t addr;
    };
    const Case cases[] = {
        {"127.0.0.1", Address(127, 0, 0, 1)},
        {"1234", Address(0, 0, 4, 210)},
        {"10.1", Address(10, 0, 0, 1)},
        {"10.1.2", Address(10, 1, 0, 2)},
        {"010.0.0.1", Address(8, 0, 0, 1)},
        {"1.16777215", Address(1, 255, 255, 255)},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"256.1.1.1", 0xFFFFFFFFu},
        {"1.2.3.4.5", 0xFFFFFFFFu},
        {"1.16777216", 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu},
        {"08", 0xFFFFFFFFu},  // not an octal number
        {"1..2", 0xFFFFFFFFu},
        {"1.2.3.", 0xFFFFFFFFu},
        {".1", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolveTarget(c.text), c.addr) << c.text;
    }
}

TEST_F(TargetResolution, ClassicConversionReadsHexParts) {
    // Never reached through ResolveTarget (the x makes a name), but part of
    // the conversion's contract.
    EXPECT_EQ(net::ClassicInetAddr("0x7f.1"), Address(127, 0, 0, 1));
    EXPECT_EQ(net::ClassicInetAddr("0XFF.0x0.0.0xa"), Address(255, 0, 0, 10));
    EXPECT_EQ(net::ClassicInetAddr("0xg"), 0xFFFFFFFFu);
}

TEST_F(TargetResolution, NamesAreLookedUpAndFailuresGiveZero) {
    EXPECT_EQ(ResolveTarget("localhost"), Address(127, 0, 0, 1));
    // A label over 63 characters is refused by the resolver itself, so the
    // failed look-up never leaves the machine.
    EXPECT_EQ(ResolveTarget(std::string(64, 'a') + ".invalid"), 0u);
    EXPECT_EQ(ResolveTarget("local host"), 0u);
}

// One parser, two readings: the window's engine keeps the classic dotted
// forms, the event engine takes literals of both families.
TEST_F(TargetResolution, EachFormTellsAddressesFromNames) {
    struct Case {
        const char* text;
        TargetForm form;
        const char* literal;  // nullptr: a host name
    };
    const Case cases[] = {
        {"127.1", TargetForm::Classic, "127.0.0.1"},
        {"010.0.0.1", TargetForm::Classic, "8.0.0.1"},
        {"1234", TargetForm::Classic, "0.0.4.210"},
        {"256.1.1.1", TargetForm::Classic, "255.255.255.255"},
        {"::1", TargetForm::Classic, nullptr},
        {"[::1]", TargetForm::Classic, nullptr},
        {"db.example", TargetForm::Classic, nullptr},
        {"127.0.0.1", TargetForm::Literal, "127.0.0.1"},
        {"127.1", TargetForm::Literal, nullptr},
        {"1234", TargetForm::Literal, nullptr},
        {"::1", TargetForm::Literal, "::1"},
        {"[::1]", TargetForm::Literal, "::1"},
        {"[]", TargetForm::Literal, nullptr},
        {"db.example", TargetForm::Literal, nullptr},
    };
    for (const Case& c : cases) {
        const TargetAddress target = ParseTarget(c.text, c.form);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(target.host, c.text);
        ASSERT_EQ(target.literal.has_value(), c.literal != nullptr);
        if (c.literal != nullptr) {
            EXPECT_EQ(target.literal->ToString(), c.literal);
        }
    }
}

}  // namespace
