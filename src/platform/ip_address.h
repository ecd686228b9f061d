// IPv4 and IPv6 addresses as one value type, and the address ranges that
// --allow names. An IPv4 address is always kept as IPv4: an IPv4-mapped IPv6
// address (what a dual-stack listener reports for an IPv4 client) becomes the
// IPv4 address it carries, so one range matches a client however it arrived.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace net {

class IpAddress {
  public:
    using V6Bytes = std::array<std::uint8_t, 16>;

    IpAddress() = default;  // 0.0.0.0
    static IpAddress FromV4(std::uint32_t hostOrder);
    // An IPv4 address as the socket calls hold it, first part in the first byte.
    static IpAddress FromV4NetworkOrder(std::uint32_t networkOrder);
    static IpAddress FromV6(const V6Bytes& bytes);
    // "a.b.c.d" (four decimal parts 0 to 255, no leading zeros, so "010" is
    // never read as octal) or an IPv6 literal without brackets or zone.
    static std::optional<IpAddress> Parse(std::string_view text);

    bool IsV4() const { return !m_isV6; }
    std::uint32_t V4() const { return m_v4; }  // host order; 0 for IPv6
    std::uint32_t V4NetworkOrder() const;
    const V6Bytes& V6() const { return m_v6; }  // zeros for IPv4
    bool IsUnspecified() const;                 // 0.0.0.0 or ::
    // Dotted form or the shortest IPv6 text.
    std::string ToString() const;

    bool operator==(const IpAddress& other) const {
        return m_isV6 == other.m_isV6 && m_v4 == other.m_v4 && m_v6 == other.m_v6;
    }
    bool operator!=(const IpAddress& other) const { return !(*this == other); }

  private:
    bool m_isV6 = false;
    std::uint32_t m_v4 = 0;
    V6Bytes m_v6{};
};

// A network and its prefix length; host bits past the prefix are cleared.
class IpRange {
  public:
    // "address/n" (n up to 32 or 128, no leading zeros) or "address" alone.
    static std::optional<IpRange> Parse(std::string_view text);
    static IpRange Of(const IpAddress& network, int prefixLength);

    // True when the address is of the range's family and its first
    // prefixLength bits match.
    bool Contains(const IpAddress& address) const;

    const IpAddress& Network() const { return m_network; }
    int PrefixLength() const { return m_prefixLength; }
    std::string ToString() const;

  private:
    IpAddress m_network;
    int m_prefixLength = 32;
};

// "a.b.c.d:port", or "[v6]:port" so the port cannot be taken for part of the address.
std::string EndpointText(const IpAddress& address, std::uint16_t port);

// Whether a client may connect: an empty list admits everyone.
bool IsAllowed(const std::vector<IpRange>& allowFrom, const IpAddress& client);

}  // namespace net
