#!/usr/bin/env bash
# Sets up this machine, builds and runs the relay: the window under Wine when
# there is a display, otherwise the headless relay on the default settings.
# Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
if [ -n "${DISPLAY:-}" ]; then
    cmake --preset win32 >/dev/null
    cmake --build --preset win32 --target Vorlane
    # Setting.ini lives beside the executable, so the program runs from its own folder.
    mkdir -p build/run
    cp build/win32/src/app/Vorlane.exe build/run/
    export WINEPREFIX="$PWD/build/run/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    if [ ! -d "$WINEPREFIX" ]; then
        wineboot -i >/dev/null 2>&1
        # This Wine does not look in its own font folder; Marlett draws the title-bar buttons.
        cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    exec wine build/run/Vorlane.exe "$@"
else
    cmake --preset native >/dev/null
    cmake --build --preset native --target vorlane-relay
    exec build/native/src/cli/vorlane-relay "$@"
fi
