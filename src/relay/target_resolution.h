// The target text, read one way for both engines; each engine picks the form
// of address it can reach.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ip_address.h"

// Classic: the window's reading, kept for the threaded engine: text of digits
// and dots is always an IPv4 address through the classic dotted conversion
// ("127.1", "010.0.0.1" and "1234" are addresses; a rejected one is
// 255.255.255.255), anything else a host name. Literal: the event engine's:
// an IPv4 address in four decimal parts or an IPv6 one, perhaps in brackets
// as beside a port; anything else a host name.
enum class TargetForm { Classic, Literal };

struct TargetAddress {
    std::string host;                       // the text as given
    std::optional<net::IpAddress> literal;  // set when the text is an address
};

// The text is taken as it is; the caller has trimmed it.
TargetAddress ParseTarget(const std::string& text, TargetForm form);

// True when the text holds only ASCII digits and dots (the empty text too).
bool IsDottedAddress(const std::string& text);

// IPv4 in network byte order from the Classic form: the address, or the
// looked-up name's first address, 0 when the look-up fails. Blocks during a
// lookup.
std::uint32_t ResolveTarget(const std::string& text);
