#include "relay/event/asio_address.h"

net::IpAddress ToIpAddress(const asio::ip::address& address) {
    if (address.is_v4()) {
        return net::IpAddress::FromV4(address.to_v4().to_uint());
    }
    return net::IpAddress::FromV6(address.to_v6().to_bytes());
}

asio::ip::address ToAsioAddress(const net::IpAddress& address) {
    if (address.IsV4()) {
        return asio::ip::address_v4(address.V4());
    }
    return asio::ip::address_v6(address.V6());
}
