// Address ranges as typed for --allow and the AllowFrom key: IPv4 or IPv6,
// each "address/n" or a single address.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"

// Comma-separated ranges with optional blanks; empty items are skipped. On a
// bad item, nothing, and badItem (if given) receives it.
std::optional<std::vector<net::IpRange>> ParseAllowList(std::string_view text,
                                                        std::string* badItem = nullptr);
