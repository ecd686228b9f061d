#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmark need.
# Idempotent: packages already present are skipped; quiet when nothing fails.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libcli11-dev libasio-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils imagemagick python3
  socat rinetd haproxy linux-perf strace curl python3-prometheus-client
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  log=$(mktemp)
  if ! { $SUDO apt-get update -qq && \
         DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "bootstrap: failed to install: ${missing[*]}" >&2
    exit 1
  fi
  rm -f "$log"
  # rinetd and haproxy are only benchmark peers; never leave them running as services.
  for svc in rinetd haproxy; do
    $SUDO service "$svc" stop >/dev/null 2>&1 || true
  done
fi
