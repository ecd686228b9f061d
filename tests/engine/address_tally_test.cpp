// The per-address cap's counting: which clients count as one address.
#include <gtest/gtest.h>

#include "relay/event/address_tally.h"

namespace {

net::IpAddress Address(const char* text) {
    return *net::IpAddress::Parse(text);
}

TEST(AddressTallyTest, CountsIpv4PerAddressAndIpv6PerSlash64) {
    struct Case {
        const char* first;   // holds the cap of 2
        const char* second;  // then asks for a place
        bool admitted;
    };
    const Case cases[] = {
        {"127.0.0.2", "127.0.0.2", false},
        {"127.0.0.2", "127.0.0.3", true},
        {"2001:db8:1:2::1", "2001:db8:1:2:ffff::9", false},  // same /64
        {"2001:db8:1:2::1", "2001:db8:1:3::1", true},
        {"::", "0.0.0.0", true},  // the families never share a count
        {"::1", "::2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " then " + c.second);
        AddressTally tally;
        ASSERT_TRUE(tally.TryAdd(Address(c.first), 2));
        ASSERT_TRUE(tally.TryAdd(Address(c.first), 2));
        EXPECT_EQ(tally.TryAdd(Address(c.second), 2), c.admitted);
    }
}

TEST(AddressTallyTest, APlaceLeftIsFreeAgainAndNoCapAdmitsAll) {
    AddressTally tally;
    const net::IpAddress client = Address("127.0.0.2");
    ASSERT_TRUE(tally.TryAdd(client, 1));
    EXPECT_FALSE(tally.TryAdd(client, 1));
    tally.Remove(client);
    EXPECT_TRUE(tally.TryAdd(client, 1));
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(tally.TryAdd(client, 0));
    }
    // Clients counted under no cap still count once a cap comes (a reload).
    EXPECT_FALSE(tally.TryAdd(client, 50));
}

}  // namespace
