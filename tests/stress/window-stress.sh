#!/usr/bin/env bash
# Runs the load client against the window program under Wine, from a folder of
# its own with a Setting.ini that starts listening at once.
# Usage: window-stress.sh shown|hidden STRESS_CLIENT WINE_RUN WINE_STATE EXE
set -euo pipefail
mode=$1 client=$2 wine_run=$3 state=$4 exe=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/Vorlane.exe"
# The DLLs it loads lie beside it in the build tree, as in the zip.
cp "$(dirname "$exe")"/*.dll "$work"/
switch=()
[ "$mode" = hidden ] && switch=(-background)
# Each chunk shown in the window costs a round trip to its thread, so the
# load is lighter than for the headless relay; one connection is set up at a
# time because the window listens with a backlog of 0.
"$client" --connections 200 --bytes 16384 --window 1 --timeout 300 --ini "$work/Setting.ini" \
    -- "$wine_run" "$state" "$work/Vorlane.exe" "${switch[@]}"
