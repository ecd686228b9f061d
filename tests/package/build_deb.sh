#!/usr/bin/env bash
# Packs the built relay into a fresh FOLDER through CPack, as the `package`
# target does, and checks that exactly the expected .deb came out.
# Usage: build_deb.sh CPACK CPACK_CONFIG VERSION FOLDER
set -euo pipefail
cpack=$1 config=$2 version=$3 folder=$4
rm -rf "$folder"
mkdir -p "$folder"
if ! log=$("$cpack" --config "$config" -B "$folder" 2>&1); then
    printf '%s\n' "$log"
    echo "cpack failed" >&2
    exit 1
fi
expected="vorlane-relay_${version}_$(dpkg --print-architecture).deb"
found=$(cd "$folder" && ls -- *.deb)
if [ "$found" != "$expected" ]; then
    echo "cpack wrote '$found', not $expected" >&2
    exit 1
fi
echo "$folder/$expected"
