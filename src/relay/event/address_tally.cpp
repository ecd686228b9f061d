#include "relay/event/address_tally.h"

#include <algorithm>

namespace {

constexpr int kIpv6CountedBits = 64;

}  // namespace

AddressTally::Key AddressTally::KeyOf(const net::IpAddress& address) {
    Key key{};
    if (address.IsV4()) {
        const std::uint32_t v4 = address.V4();
        key[1] = static_cast<std::uint8_t>(v4 >> 24);
        key[2] = static_cast<std::uint8_t>(v4 >> 16);
        key[3] = static_cast<std::uint8_t>(v4 >> 8);
        key[4] = static_cast<std::uint8_t>(v4);
        return key;
    }
    key[0] = 6;
    const net::IpRange network = net::IpRange::Of(address, kIpv6CountedBits);
    const net::IpAddress::V6Bytes& v6 = network.Network().V6();
    std::copy(v6.begin(), v6.end(), key.begin() + 1);
    return key;
}

bool AddressTally::TryAdd(const net::IpAddress& address, int cap) {
    const Key key = KeyOf(address);
    std::lock_guard<std::mutex> lock(m_lock);
    int& count = m_counts[key];
    if (cap > 0 && count >= cap) {
        return false;  // the entry exists already: cap > 0 means count > 0
    }
    ++count;
    return true;
}

void AddressTally::Remove(const net::IpAddress& address) {
    const Key key = KeyOf(address);
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_counts.find(key);
    if (found != m_counts.end() && --found->second <= 0) {
        m_counts.erase(found);
    }
}
