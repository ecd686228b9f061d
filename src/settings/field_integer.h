// Numbers typed into the window's fields, and the same keys in a config file.
#pragma once

#include <string_view>

// A signed decimal number at the start of the text, after white space; what
// follows it is ignored. Empty text, text that does not begin with a number,
// or a number outside int gives 0, as an edit field read as an integer does.
int ReadFieldInteger(std::string_view text);
