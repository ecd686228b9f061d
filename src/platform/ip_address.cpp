#include "platform/ip_address.h"

#include <cstring>

#include "platform/system_sockets.h"

namespace net {
namespace {

// A decimal number of one to three digits, no leading zero, up to `limit`.
std::optional<unsigned> ParseDecimal(std::string_view text, unsigned limit) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > limit) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> ParseDotted(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        const bool last = part == 3;
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const auto value = ParseDecimal(text.substr(0, dot), 255);
        if (!value) {
            return std::nullopt;
        }
        address = (address << 8) | *value;
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    return address;
}

bool IsV4Mapped(const IpAddress::V6Bytes& bytes) {
    static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(bytes.data(), kPrefix, sizeof kPrefix) == 0;
}

// The first `bits` bits of two byte strings are equal.
bool PrefixMatches(const std::uint8_t* a, const std::uint8_t* b, int bits) {
    const int whole = bits / 8;
    if (std::memcmp(a, b, static_cast<std::size_t>(whole)) != 0) {
        return false;
    }
    const int rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

std::array<std::uint8_t, 4> V4Bytes(std::uint32_t hostOrder) {
    return {static_cast<std::uint8_t>(hostOrder >> 24), static_cast<std::uint8_t>(hostOrder >> 16),
            static_cast<std::uint8_t>(hostOrder >> 8), static_cast<std::uint8_t>(hostOrder)};
}

}  // namespace

IpAddress IpAddress::FromV4(std::uint32_t hostOrder) {
    IpAddress address;
    address.m_v4 = hostOrder;
    return address;
}

IpAddress IpAddress::FromV6(const V6Bytes& bytes) {
    if (IsV4Mapped(bytes)) {
        return FromV4((std::uint32_t{bytes[12]} << 24) | (std::uint32_t{bytes[13]} << 16) |
                      (std::uint32_t{bytes[14]} << 8) | std::uint32_t{bytes[15]});
    }
    IpAddress address;
    address.m_isV6 = true;
    address.m_v6 = bytes;
    return address;
}

IpAddress IpAddress::FromV4NetworkOrder(std::uint32_t networkOrder) {
    return FromV4(ntohl(networkOrder));
}

std::uint32_t IpAddress::V4NetworkOrder() const {
    return htonl(m_v4);
}

std::optional<IpAddress> IpAddress::Parse(std::string_view text) {
    if (text.find(':') == std::string_view::npos) {
        const auto v4 = ParseDotted(text);
        if (!v4) {
            return std::nullopt;
        }
        return FromV4(*v4);
    }
    // inet_pton would stop at a NUL and take the text before it as the whole.
    if (text.size() > INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string terminated(text);
    in6_addr parsed{};
    if (inet_pton(AF_INET6, terminated.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    V6Bytes bytes{};
    std::memcpy(bytes.data(), &parsed, bytes.size());
    return FromV6(bytes);
}

bool IpAddress::IsUnspecified() const {
    return m_isV6 ? m_v6 == V6Bytes{} : m_v4 == 0;
}

std::string IpAddress::ToString() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (!m_isV6) {
        const auto bytes = V4Bytes(m_v4);
        return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' +
               std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
    }
    in6_addr raw{};
    std::memcpy(&raw, m_v6.data(), m_v6.size());
    if (inet_ntop(AF_INET6, &raw, text, sizeof text) == nullptr) {
        return "::";
    }
    return text;
}

std::optional<IpRange> IpRange::Parse(std::string_view text) {
    const std::size_t slash = text.find('/');
    const auto address = IpAddress::Parse(text.substr(0, slash));
    if (!address) {
        return std::nullopt;
    }
    // An IPv6 text counts its prefix in IPv6 bits, also when it names an
    // IPv4-mapped address; such a range must lie within the mapped block.
    const bool v6Text = text.substr(0, slash).find(':') != std::string_view::npos;
    const unsigned longest = v6Text ? 128 : 32;
    unsigned prefix = longest;
    if (slash != std::string_view::npos) {
        const auto parsed = ParseDecimal(text.substr(slash + 1), longest);
        if (!parsed) {
            return std::nullopt;
        }
        prefix = *parsed;
    }
    if (v6Text && address->IsV4()) {
        if (prefix < 96) {
            return std::nullopt;
        }
        prefix -= 96;
    }
    return Of(*address, static_cast<int>(prefix));
}

IpRange IpRange::Of(const IpAddress& network, int prefixLength) {
    IpRange range;
    range.m_prefixLength = prefixLength;
    if (network.IsV4()) {
        // A shift by 32 is undefined, so /0 is its own case.
        const std::uint32_t mask =
            prefixLength <= 0 ? 0 : ~std::uint32_t{0} << (32 - std::min(prefixLength, 32));
        range.m_network = IpAddress::FromV4(network.V4() & mask);
        return range;
    }
    IpAddress::V6Bytes bytes = network.V6();
    for (int bit = std::max(prefixLength, 0); bit < 128; ++bit) {
        bytes[static_cast<std::size_t>(bit / 8)] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
    }
    range.m_network = IpAddress::FromV6(bytes);
    return range;
}

bool IpRange::Contains(const IpAddress& address) const {
    if (address.IsV4() != m_network.IsV4()) {
        return false;
    }
    if (address.IsV4()) {
        const auto a = V4Bytes(address.V4());
        const auto b = V4Bytes(m_network.V4());
        return PrefixMatches(a.data(), b.data(), m_prefixLength);
    }
    return PrefixMatches(address.V6().data(), m_network.V6().data(), m_prefixLength);
}

std::string IpRange::ToString() const {
    return m_network.ToString() + '/' + std::to_string(m_prefixLength);
}

std::string EndpointText(const IpAddress& address, std::uint16_t port) {
    const std::string host = address.IsV4() ? address.ToString() : "[" + address.ToString() + "]";
    return host + ":" + std::to_string(port);
}

bool IsAllowed(const std::vector<IpRange>& allowFrom, const IpAddress& client) {
    if (allowFrom.empty()) {
        return true;
    }
    for (const IpRange& range : allowFrom) {
        if (range.Contains(client)) {
            return true;
        }
    }
    return false;
}

}  // namespace net
