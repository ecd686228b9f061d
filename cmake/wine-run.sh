#!/usr/bin/env bash
# Runs one Windows program under Wine in the build tree's private prefix.
# Usage: wine-run.sh STATE_DIR PROGRAM [ARGS...]
# STATE_DIR holds the prefix and, once the test fixture has started Xvfb,
# a file "display" naming its X display.
set -euo pipefail
state=$1
shift
mkdir -p "$state"
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# No Mono or Gecko, and no debugger: a crash must end the program, not wait
# in winedbg until the test times out.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d"
if [ -z "${DISPLAY:-}" ] && [ -f "$state/display" ]; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
fi
"$(dirname "$0")/wine-prefix.sh" "$state"
exec wine "$@"
