// The command-line switch that starts the window hidden.
#pragma once

// True when the command line's last 11 characters (the whole line when it is
// shorter) are exactly "-background". Nothing else is parsed.
bool EndsWithBackgroundSwitch(const char* commandLine);
