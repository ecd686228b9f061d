#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmark need.
# With --relay, only what the Linux relay needs to build, test and package
# (no Windows cross compilers, Wine or X). Idempotent: packages already
# present are skipped; quiet when nothing fails.
set -euo pipefail

relay_packages=(
  cmake ninja-build g++ libcli11-dev libasio-dev googletest libgtest-dev python3
  dpkg-dev lintian man-db systemd curl python3-prometheus-client
  libgcrypt20-dev python3-dissononce golang-github-flynn-noise-dev
  openssh-client openssh-server
)
other_packages=(
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils imagemagick
  socat rinetd haproxy linux-perf strace spiped
)

case "${1:-}" in
  --relay) packages=("${relay_packages[@]}") ;;
  "") packages=("${relay_packages[@]}" "${other_packages[@]}") ;;
  *) echo "usage: bootstrap.sh [--relay]" >&2; exit 2 ;;
esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# wine32 is an i386 package.
if [ "${1:-}" != --relay ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  # The tests and the benchmark run a private sshd by its PID; installing
  # openssh-server must not start the system's. A policy that forbids service
  # starts is put in place for the install unless the machine has one already.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    trap '$SUDO rm -f "$policy"' EXIT
  fi
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
