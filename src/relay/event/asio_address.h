// Addresses between asio's type and the platform's, which the rest of the
// relay speaks.
#pragma once

#include <asio/ip/address.hpp>

#include "platform/ip_address.h"

net::IpAddress ToIpAddress(const asio::ip::address& address);
asio::ip::address ToAsioAddress(const net::IpAddress& address);
