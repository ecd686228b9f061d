#include "settings/newline_marker.h"

namespace {

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string result;
    result.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t found = text.find(from); found != std::string_view::npos;
         found = text.find(from, start)) {
        result.append(text.substr(start, found - start));
        result.append(to);
        start = found + from.size();
    }
    result.append(text.substr(start));
    return result;
}

}  // namespace

std::string CrLfToNewlineMarkers(std::string_view text) {
    return ReplaceAll(text, "\r\n", kNewlineMarker);
}

std::string NewlineMarkersToCrLf(std::string_view text) {
    return ReplaceAll(text, kNewlineMarker, "\r\n");
}
