// Turning the target text into one IPv4 address, once per Start.
#pragma once

#include <cstdint>
#include <string>

// True when the text holds only ASCII digits and dots (the empty text too).
bool IsDottedAddress(const std::string& text);

// Network byte order. Digits-and-dots text goes through the classic dotted
// conversion (0xFFFFFFFF when rejected); anything else is looked up as a host
// name, 0 when that fails. Blocks during a lookup.
std::uint32_t ResolveTarget(const std::string& text);
