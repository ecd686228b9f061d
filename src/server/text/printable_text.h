// Text from the command line or a config file made safe to print on a
// terminal or into the journal: a control character, C0 or C1, or a byte
// that is not part of valid UTF-8 is shown as \xNN, so that no escape
// sequence reaches the reader and the message stays on one line. Every
// other byte, backslashes too (Windows paths), is kept.
#pragma once

#include <string>
#include <string_view>

std::string PrintableText(std::string_view text);
