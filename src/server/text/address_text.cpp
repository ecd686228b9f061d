#include "server/text/address_text.h"

namespace {

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

std::optional<std::vector<net::IpRange>> ParseAllowList(std::string_view text,
                                                        std::string* badItem) {
    std::vector<net::IpRange> ranges;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = TrimBlanks(text.substr(0, comma));
        if (!item.empty()) {
            const auto range = net::IpRange::Parse(item);
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
