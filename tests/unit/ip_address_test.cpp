// Addresses and ranges as --bind and --allow take them, for both families.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/ip_address.h"

namespace {

using net::IpAddress;
using net::IpRange;
using namespace std::string_view_literals;

struct AddressCase {
    std::string_view text;
    const char* shown;  // null: refused
    bool v4;
};

const AddressCase kAddresses[] = {
    {"127.0.0.1", "127.0.0.1", true},
    {"0.0.0.0", "0.0.0.0", true},
    {"255.255.255.255", "255.255.255.255", true},
    {"::1", "::1", false},
    {"2001:DB8:0:0::7", "2001:db8::7", false},
    // What a dual-stack listener reports for an IPv4 client is that client.
    {"::ffff:10.1.2.3", "10.1.2.3", true},
    {"010.0.0.1", nullptr, false},  // never octal
    {"1.2.3", nullptr, false},
    {"1.2.3.4.5", nullptr, false},
    {"256.0.0.1", nullptr, false},
    {"1.2.3.4 ", nullptr, false},
    {"", nullptr, false},
    {"[::1]", nullptr, false},
    {"fe80::1%eth0", nullptr, false},
    {"1::2::3", nullptr, false},
    {"localhost", nullptr, false},
    // A config value may hold a NUL: what follows it must not go unread.
    {"::\0junk"sv, nullptr, false},
};

TEST(IpAddress, KeepsTheFirstPartFirstInNetworkOrder) {
    const std::uint32_t network = IpAddress::FromV4(0x7F000002).V4NetworkOrder();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&network);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[3], 2);
    EXPECT_EQ(IpAddress::FromV4NetworkOrder(network).ToString(), "127.0.0.2");
}

TEST(IpAddress, ParsesAndShowsBothFamilies) {
    for (const AddressCase& c : kAddresses) {
        SCOPED_TRACE(c.text);
        const auto address = IpAddress::Parse(c.text);
        if (c.shown == nullptr) {
            EXPECT_FALSE(address.has_value());
            continue;
        }
        ASSERT_TRUE(address.has_value());
        EXPECT_EQ(address->ToString(), c.shown);
        EXPECT_EQ(address->IsV4(), c.v4);
    }
}

struct RangeCase {
    const char* range;  // null: refused
    const char* client;
    bool contained;
};

const RangeCase kRanges[] = {
    {"10.0.0.0/8", "10.255.1.2", true},
    {"10.0.0.0/8", "11.0.0.1", false},
    {"10.9.9.9/8", "10.0.0.1", true},  // host bits past the prefix are cleared
    {"192.168.1.7", "192.168.1.7", true},
    {"192.168.1.7", "192.168.1.8", false},
    {"0.0.0.0/0", "203.0.113.9", true},
    {"0.0.0.0/0", "::1", false},  // one family never holds the other
    {"::/0", "127.0.0.1", false},
    {"10.0.0.0/8", "::ffff:10.0.0.5", true},  // a mapped client is its IPv4 self
    {"2001:db8::/32", "2001:db8:ffff::1", true},
    {"2001:db8::/32", "2001:db9::1", false},
    {"2001:db8::/33", "2001:db8:8000::1", false},
    {"::1/128", "::1", true},
    {"::ffff:10.0.0.0/104", "10.0.0.9", true},
    {"10.0.0.0/33", nullptr, false},
    {"::/129", nullptr, false},
    {"10.0.0.0/08", nullptr, false},
    {"10.0.0.0/", nullptr, false},
    {"::ffff:0:0/64", nullptr, false},  // a mapped range wider than IPv4 is meaningless
    {"10.0.0.0/-1", nullptr, false},
    {"1..3.4", nullptr, false},
    {"+1.2.3.4", nullptr, false},
    {"1.2.3.4/0", "8.8.8.8", true},
    {"0.0.0.0/1", "127.0.0.1", true},
    {"0.0.0.0/1", "128.0.0.1", false},
};

TEST(IpRange, ContainsOnlyAddressesOfItsFamilyAndPrefix) {
    for (const RangeCase& c : kRanges) {
        SCOPED_TRACE(c.range);
        const auto range = IpRange::Parse(c.range);
        if (c.client == nullptr) {
            EXPECT_FALSE(range.has_value());
            continue;
        }
        ASSERT_TRUE(range.has_value());
        const auto client = IpAddress::Parse(c.client);
        ASSERT_TRUE(client.has_value()) << c.client;
        EXPECT_EQ(range->Contains(*client), c.contained) << c.client;
    }
}

}  // namespace
