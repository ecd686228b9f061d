#!/usr/bin/env bash
# Creates the private Wine prefix once (about ten seconds); later calls return at once.
# Usage: wine-prefix.sh STATE_DIR
set -euo pipefail
state=$1
mkdir -p "$state"
# shellcheck source=wine-env.sh
source "$(dirname "$0")/wine-env.sh" "$state"
[ -f "$WINEPREFIX/.vorlane-ready" ] && exit 0
exec 9>"$state/.prefix-lock"
flock 9
[ -f "$WINEPREFIX/.vorlane-ready" ] && exit 0
"$WINELOADER" wineboot -i >/dev/null 2>&1
# Without a window manager every hide stalls about two seconds unless the
# X11 driver leaves window management to Wine.
"$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# This Wine does not look in its own font folder; Marlett draws the title-bar buttons.
cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
wineserver -w
touch "$WINEPREFIX/.vorlane-ready"
