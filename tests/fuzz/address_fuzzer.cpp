// libFuzzer target for address and range texts (--bind, --allow, BindAddr,
// AllowFrom): what parses reads as the system's own parser reads it, and
// prints as text that parses back to the same value.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_require.h"
#include "platform/ip_address.h"

namespace {

// inet_pton's reading, IPv4-mapped IPv6 taken as its IPv4 address, as the relay takes it.
bool SystemReads(const std::string& text, net::IpAddress* address) {
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        *address = net::IpAddress::FromV4NetworkOrder(v4.s_addr);
        return true;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) {
        return false;
    }
    net::IpAddress::V6Bytes bytes{};
    std::memcpy(bytes.data(), v6.s6_addr, bytes.size());
    *address = net::IpAddress::FromV6(bytes);
    return true;
}

void CheckAddress(std::string_view text) {
    const auto parsed = net::IpAddress::Parse(text);
    net::IpAddress system;
    // inet_pton reads up to a NUL; such a text is no address to either.
    const bool systemReads =
        text.find('\0') == std::string_view::npos && SystemReads(std::string(text), &system);
    Require(parsed.has_value() == systemReads, "an address parses exactly when inet_pton reads it");
    if (!parsed) {
        return;
    }
    Require(*parsed == system, "an address reads as inet_pton reads it");
    Require(net::IpAddress::Parse(parsed->ToString()) == parsed, "an address prints back");
}

void CheckRange(std::string_view text) {
    const auto range = net::IpRange::Parse(text);
    if (!range) {
        return;
    }
    const int bits = range->Network().IsV4() ? 32 : 128;
    Require(range->PrefixLength() >= 0 && range->PrefixLength() <= bits, "a prefix fits");
    Require(range->Contains(range->Network()), "a range holds its own network");
    const auto again = net::IpRange::Parse(range->ToString());
    Require(again && again->Network() == range->Network() &&
                again->PrefixLength() == range->PrefixLength(),
            "a range prints back");
    Require(range->Network() == net::IpRange::Of(range->Network(), range->PrefixLength()).Network(),
            "host bits are cleared");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckAddress(text);
    CheckRange(text);
    return 0;
}
