// Text-to-IPv4 conversions. Results are in network byte order.
#pragma once

#include <cstdint>
#include <string>

namespace net {

constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// The classic inet_addr conversion, the same on every platform: one to four
// parts split by dots, each decimal, octal (leading 0) or hex (leading 0x);
// with fewer than four parts the last fills the remaining low bytes.
// kAddressNone when the text is rejected (and for 255.255.255.255).
std::uint32_t ClassicInetAddr(const std::string& text);

// The first IPv4 address a host-name lookup lists, 0 when there is none.
// Blocks while the lookup runs.
std::uint32_t LookupHostIPv4(const std::string& name);

}  // namespace net
