#include "cli/ipv4_text.h"

#include <array>
#include <cstring>

#include "cli/number_text.h"

namespace {

std::optional<std::uint32_t> ParseAddressPart(std::string_view part) {
    if (part.size() > 1 && part.front() == '0') {
        return std::nullopt;
    }
    const auto value = ParseUnsignedDecimal(part, 255);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::optional<std::uint32_t> ParseDottedAddress(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        const bool last = part == 3;
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const auto value = ParseAddressPart(text.substr(0, dot));
        if (!value) {
            return std::nullopt;
        }
        address = (address << 8) | *value;
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    return address;
}

std::optional<AllowRange> ParseAllowRange(std::string_view text) {
    const std::size_t slash = text.find('/');
    const auto address = ParseDottedAddress(text.substr(0, slash));
    if (!address) {
        return std::nullopt;
    }
    std::int64_t prefix = 32;
    if (slash != std::string_view::npos) {
        const std::string_view prefixText = text.substr(slash + 1);
        const auto parsed = ParseUnsignedDecimal(prefixText, 32);
        if (!parsed || (prefixText.size() > 1 && prefixText.front() == '0')) {
            return std::nullopt;
        }
        prefix = *parsed;
    }
    // A shift by 32 is undefined, so /0 is its own case.
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    return AllowRange{*address & mask, mask};
}

std::optional<std::vector<AllowRange>> ParseAllowList(std::string_view text, std::string* badItem) {
    std::vector<AllowRange> ranges;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = TrimBlanks(text.substr(0, comma));
        if (!item.empty()) {
            const auto range = ParseAllowRange(item);
            if (!range) {
                if (badItem != nullptr) {
                    *badItem = std::string(item);
                }
                return std::nullopt;
            }
            ranges.push_back(*range);
        }
        if (comma == std::string_view::npos) {
            return ranges;
        }
        text.remove_prefix(comma + 1);
    }
}

std::uint32_t ToNetworkOrder(std::uint32_t hostOrder) {
    const std::array<unsigned char, 4> bytes = {
        static_cast<unsigned char>(hostOrder >> 24), static_cast<unsigned char>(hostOrder >> 16),
        static_cast<unsigned char>(hostOrder >> 8), static_cast<unsigned char>(hostOrder)};
    std::uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, bytes.data(), bytes.size());
    return networkOrder;
}
