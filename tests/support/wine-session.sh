#!/usr/bin/env bash
# Test fixture for the Windows tests: "start" brings up an Xvfb display and the
# private Wine prefix, "stop" ends both. Everything it starts it stops by PID.
# Usage: wine-session.sh start|stop STATE_DIR
set -euo pipefail
action=$1
state=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"

start_xvfb() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
        echo $! >"$state/xvfb.pid"
        local i
        for i in $(seq 1 50); do
            if [ -e "/tmp/.X11-unix/X$n" ]; then
                echo ":$n" >"$state/display"
                return 0
            fi
            kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null || break
            sleep 0.1
        done
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid"
    done
    echo "wine-session: could not start Xvfb" >&2
    return 1
}

case "$action" in
start)
    "$0" stop "$state" || true
    start_xvfb
    DISPLAY=$(cat "$state/display") "$here/../../cmake/wine-prefix.sh" "$state"
    ;;
stop)
    if [ -f "$state/prefix/.vorlane-ready" ]; then
        WINEPREFIX="$state/prefix" wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid"
    fi
    rm -f "$state/display"
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
