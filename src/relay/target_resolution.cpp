#include "relay/target_resolution.h"

#include "platform/host_lookup.h"

bool IsDottedAddress(const std::string& text) {
    for (const char c : text) {
        if ((c < '0' || c > '9') && c != '.') {
            return false;
        }
    }
    return true;
}

std::uint32_t ResolveTarget(const std::string& text) {
    if (IsDottedAddress(text)) {
        return net::ClassicInetAddr(text);
    }
    return net::LookupHostIPv4(text);
}
