#!/usr/bin/env bash
# Builds the Linux relay alone and its Debian package, with only the packages
# it needs: build/relay/vorlane-relay_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh --relay
cmake --preset relay >/dev/null
cmake --build --preset relay --target package
ls build/relay/vorlane-relay_*.deb
