// A text field's line breaks are stored as "#newline#", since an INI value
// must stay on one line.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kNewlineMarker = "#newline#";

// Every CR LF pair becomes "#newline#", scanning left to right without overlaps.
std::string CrLfToNewlineMarkers(std::string_view text);
// Every "#newline#" becomes a CR LF pair, scanning left to right without overlaps.
std::string NewlineMarkersToCrLf(std::string_view text);
