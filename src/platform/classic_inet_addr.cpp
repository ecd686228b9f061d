#include <cctype>

#include "platform/host_lookup.h"

namespace net {
namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 99;
}

// Reads one part at text[pos]; false when it is not a number of its base or
// does not fit 32 bits.
bool ReadPart(const std::string& text, std::size_t& pos, std::uint64_t& value) {
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) {
        return false;
    }
    unsigned base = 10;
    if (text[pos] == '0') {
        base = 8;
        ++pos;
        if (pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
            base = 16;
            ++pos;
        }
    }
    value = 0;
    while (pos < text.size() && text[pos] != '.') {
        const int digit = DigitValue(text[pos]);
        if (digit >= static_cast<int>(base)) {
            return false;
        }
        value = value * base + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) {
            return false;
        }
        ++pos;
    }
    return true;
}

}  // namespace

std::uint32_t ClassicInetAddr(const std::string& text) {
    std::uint64_t parts[4] = {};
    int count = 0;
    std::size_t pos = 0;
    for (;;) {
        if (count == 4 || !ReadPart(text, pos, parts[count])) {
            return kAddressNone;
        }
        ++count;
        if (pos == text.size()) {
            break;
        }
        ++pos;  // the dot
    }
    // Every part but the last is one byte; the last fills what is left.
    const int lastBits = 8 * (5 - count);
    std::uint64_t host = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) {
            return kAddressNone;
        }
        host |= parts[i] << (24 - 8 * i);
    }
    if (lastBits < 32 && parts[count - 1] >= (std::uint64_t{1} << lastBits)) {
        return kAddressNone;
    }
    host |= parts[count - 1];
    const auto h = static_cast<std::uint32_t>(host);
    // Network byte order, built byte by byte so it is right on any host.
    std::uint32_t network = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&network);
    bytes[0] = static_cast<unsigned char>(h >> 24);
    bytes[1] = static_cast<unsigned char>(h >> 16);
    bytes[2] = static_cast<unsigned char>(h >> 8);
    bytes[3] = static_cast<unsigned char>(h);
    return network;
}

}  // namespace net
