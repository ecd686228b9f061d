#!/usr/bin/env bash
# Which Windows architectures this machine can run under Wine, and the loader
# for each. Debian's /usr/bin/wine takes the 32-bit loader whenever wine32 is
# installed, even on kernels that cannot run 32-bit programs at all, so every
# start of Wine in this tree names its loader through here.
#
# Usage: wine-arch.sh loader win32|win64   print the loader for that architecture
#        wine-arch.sh check win32|win64    exit 0 when it runs here; else say why on stderr, exit 1
#        wine-arch.sh runnable             print each architecture that runs here, one a line
set -euo pipefail

loader_of() {
    case "$1" in
        win32) echo /usr/lib/wine/wine ;;
        win64) echo /usr/lib/wine/wine64 ;;
        *) echo "wine-arch: unknown architecture '$1' (win32 or win64)" >&2; return 2 ;;
    esac
}

# Starting the loader is the test: a kernel without 32-bit support refuses it
# with "Exec format error" before Wine prints anything.
check() {
    local loader
    loader=$(loader_of "$1") || return 2
    if [ ! -x "$loader" ]; then
        echo "$loader is not installed" >&2
        return 1
    fi
    local output
    if ! output=$("$loader" --version 2>&1); then
        echo "$loader cannot run on this machine: ${output##*: }" >&2
        return 1
    fi
}

case "${1:-}" in
    loader) loader_of "${2:-}" ;;
    check) check "${2:-}" ;;
    runnable)
        for arch in win32 win64; do
            if check "$arch" 2>/dev/null; then echo "$arch"; fi
        done
        ;;
    *) echo "usage: $0 loader|check ARCH, or $0 runnable" >&2; exit 2 ;;
esac
