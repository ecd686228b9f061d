#!/usr/bin/env bash
# Sets up this machine, builds and runs the relay: the window under Wine when
# there is a display (the 32-bit program where this machine runs 32-bit
# Windows programs, else the 64-bit one), otherwise the headless relay on the
# default settings. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${DISPLAY:-}" ]; then
    bash scripts/bootstrap.sh
    arch=win32
    if ! why=$(bash cmake/wine-arch.sh check win32 2>&1); then
        arch=win64
        echo "run: the 32-bit window cannot run here ($why); showing the 64-bit one"
    fi
    bash cmake/wine-arch.sh check "$arch"
    echo "run: Vorlane.exe, $arch"
    cmake --preset "$arch" >/dev/null
    cmake --build --preset "$arch" --target Vorlane
    # Setting.ini lives beside the executable, so the program runs from its own
    # folder; each architecture has its own folder and Wine prefix.
    folder="build/run/$arch"
    mkdir -p "$folder"
    cp "build/$arch/src/app/Vorlane.exe" "$folder/"
    echo "$arch" >"$folder/arch"
    cd "$folder"
    exec ../../../cmake/wine-run.sh "$PWD" "$PWD/Vorlane.exe" "$@"
else
    # A server needs no Wine and no cross compilers for the Linux relay.
    bash scripts/bootstrap.sh --relay
    cmake --preset native >/dev/null
    cmake --build --preset native --target vorlane-relay
    exec build/native/src/server/vorlane-relay "$@"
fi
