#!/usr/bin/env bash
# Runs one Windows program under Wine in the build tree's private prefix, with
# the loader of the build tree's architecture.
# Usage: wine-run.sh STATE_DIR PROGRAM [ARGS...]
# STATE_DIR holds the prefix, the architecture ("arch") and, once the test
# fixture has started Xvfb, a file "display" naming its X display.
set -euo pipefail
state=$1
shift
mkdir -p "$state"
# shellcheck source=wine-env.sh
source "$(dirname "$0")/wine-env.sh" "$state"
if [ -z "${DISPLAY:-}" ] && [ -f "$state/display" ]; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
fi
"$(dirname "$0")/wine-prefix.sh" "$state"
exec "$WINELOADER" "$@"
