// libFuzzer target for the allow-list: an AllowFrom text, a line break, then
// a client address (4 bytes IPv4, 16 IPv6). The list parses as a whole or
// not at all, text with no range is refused, and a client is admitted
// exactly when some range's first prefix bits are the client's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_require.h"
#include "platform/ip_address.h"
#include "server/config/setting_values.h"

namespace {

// The address as bytes, first byte first: 4 for IPv4, 16 for IPv6.
std::vector<std::uint8_t> BytesOf(const net::IpAddress& address) {
    if (address.IsV4()) {
        const std::uint32_t v4 = address.V4();
        return {static_cast<std::uint8_t>(v4 >> 24), static_cast<std::uint8_t>(v4 >> 16),
                static_cast<std::uint8_t>(v4 >> 8), static_cast<std::uint8_t>(v4)};
    }
    return {address.V6().begin(), address.V6().end()};
}

// The check written out bit by bit, to compare the relay's with.
bool PrefixMatches(const net::IpRange& range, const net::IpAddress& client) {
    const std::vector<std::uint8_t> network = BytesOf(range.Network());
    const std::vector<std::uint8_t> address = BytesOf(client);
    if (network.size() != address.size()) {
        return false;
    }
    for (int bit = 0; bit < range.PrefixLength(); ++bit) {
        const int shift = 7 - bit % 8;
        if (((network[bit / 8] >> shift) & 1) != ((address[bit / 8] >> shift) & 1)) {
            return false;
        }
    }
    return true;
}

std::optional<net::IpAddress> ClientFrom(std::string_view bytes) {
    if (bytes.size() == 4) {
        std::uint32_t v4 = 0;
        for (const char c : bytes) {
            v4 = v4 << 8 | static_cast<std::uint8_t>(c);
        }
        return net::IpAddress::FromV4(v4);
    }
    if (bytes.size() == 16) {
        net::IpAddress::V6Bytes v6{};
        std::memcpy(v6.data(), bytes.data(), v6.size());
        return net::IpAddress::FromV6(v6);
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string_view text = input.substr(0, newline);
    const auto ranges = CheckRangeList(text);
    if (!ranges) {
        return 0;
    }
    Require(text.find_first_not_of(" \t,") == std::string_view::npos || !ranges->empty(),
            "text with something in it gives ranges");
    std::string printed;
    for (const net::IpRange& range : *ranges) {
        printed += (printed.empty() ? "" : ", ") + range.ToString();
    }
    const auto again = CheckRangeList(printed);
    Require(again && again->size() == ranges->size(), "a list prints back");

    if (newline == std::string_view::npos) {
        return 0;
    }
    const auto client = ClientFrom(input.substr(newline + 1));
    if (!client) {
        return 0;
    }
    for (const net::IpRange& range : *ranges) {
        Require(range.Contains(*client) == PrefixMatches(range, *client),
                "a range holds a client exactly when the prefix bits match");
    }
    Require(std::any_of(again->begin(), again->end(),
                        [&](const net::IpRange& r) { return r.Contains(*client); }) ==
                std::any_of(ranges->begin(), ranges->end(),
                            [&](const net::IpRange& r) { return r.Contains(*client); }),
            "the printed list admits whom the file's list admits");
    return 0;
}
