#!/usr/bin/env bash
# Makes every release file into dist/: builds both Windows presets and packs
# each through CPack into vorlane-<version>-win32.zip and -win64.zip, and the
# Linux relay into vorlane-relay_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

# dist/ holds the files of one release: the current version's.
rm -rf dist
mkdir -p dist
for preset in win32 win64; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    # A zip left by an older version must not be copied with the new one.
    rm -f "build/$preset"/vorlane-*-"$preset".zip
    cmake --build --preset "$preset" --target package
    cp "build/$preset"/vorlane-*-"$preset".zip dist/
done
echo "=== relay"
cmake --preset relay >/dev/null
rm -f build/relay/vorlane-relay_*.deb
cmake --build --preset relay --target package
cp build/relay/vorlane-relay_*.deb dist/
ls -l dist/
