// Dotted IPv4 addresses and CIDR ranges as typed for --bind and --allow.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "relay/start_request.h"

// "a.b.c.d" with four decimal parts 0 to 255 and no leading zeros (so that
// "010" cannot be mistaken for octal). Host byte order.
std::optional<std::uint32_t> ParseDottedAddress(std::string_view text);

// "a.b.c.d/n" with n from 0 to 32, or "a.b.c.d" for that one address. Host
// bits beyond the prefix are cleared.
std::optional<AllowRange> ParseAllowRange(std::string_view text);

// Comma-separated ranges with optional blanks; empty items are skipped. On a
// bad item, nothing, and badItem (if given) receives it.
std::optional<std::vector<AllowRange>> ParseAllowList(std::string_view text,
                                                      std::string* badItem = nullptr);

// A host-order address in the network order StartRequest::bindAddr wants.
std::uint32_t ToNetworkOrder(std::uint32_t hostOrder);
