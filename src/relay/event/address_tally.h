// Clients held per source address, for the per-address cap. An IPv4 address
// counts alone; an IPv6 address counts with its /64, which one subscriber
// usually holds whole, so a host cannot pass the cap by taking new addresses
// from its own network. Acceptors on several workers admit at once: locked.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/ip_address.h"

class AddressTally {
  public:
    // Counts the client in unless its address already holds `cap` clients
    // (0: no cap, always counted).
    bool TryAdd(const net::IpAddress& address, int cap);
    // Once for every client TryAdd counted in.
    void Remove(const net::IpAddress& address);

  private:
    using Key = std::array<std::uint8_t, 17>;  // the family, then the counted bits
    static Key KeyOf(const net::IpAddress& address);

    std::mutex m_lock;
    std::map<Key, int> m_counts;  // only addresses with a client
};
