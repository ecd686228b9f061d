#include "relay/target_resolution.h"

#include "platform/host_lookup.h"

namespace {

// "[::1]" is how an IPv6 literal is often written beside a port.
std::string WithoutBrackets(const std::string& text) {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

}  // namespace

TargetAddress ParseTarget(const std::string& text, TargetForm form) {
    TargetAddress target{text, std::nullopt};
    if (form == TargetForm::Classic) {
        if (IsDottedAddress(text)) {
            target.literal = net::IpAddress::FromV4NetworkOrder(net::ClassicInetAddr(text));
        }
    } else {
        target.literal = net::IpAddress::Parse(WithoutBrackets(text));
    }
    return target;
}

bool IsDottedAddress(const std::string& text) {
    for (const char c : text) {
        if ((c < '0' || c > '9') && c != '.') {
            return false;
        }
    }
    return true;
}

std::uint32_t ResolveTarget(const std::string& text) {
    const TargetAddress target = ParseTarget(text, TargetForm::Classic);
    if (target.literal) {
        return target.literal->V4NetworkOrder();
    }
    return net::LookupHostIPv4(target.host);
}
