// The rules a config file given to vorlane-relay keeps beyond each value's
// own check, so that a typo stops the start instead of leaving a default
// (every address admitted, every interface listened on) in force:
// - exactly one [Vorlane] section;
// - in it only keys of the settings table, each once, and no line that is
//   not a key, a comment (";") or blank.
// Other sections are not the relay's and are ignored, as the window ignores
// them; so are the lines before the first section.
#pragma once

#include <optional>
#include <string>

#include "settings/ini_document.h"

// What is wrong, to follow "FILE: "; nothing when the file keeps the rules.
std::optional<std::string> FindConfigFileFault(const IniDocument& document);
