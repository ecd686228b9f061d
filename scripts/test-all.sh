#!/usr/bin/env bash
# Sets up this machine, builds every preset and runs every test:
# native, AddressSanitizer+UBSan, ThreadSanitizer, and 32-bit Windows under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

presets=(native asan tsan win32)
if [ $# -gt 0 ]; then presets=("$@"); fi

failed=()
for preset in "${presets[@]}"; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    if ! ctest --preset "$preset"; then
        failed+=("$preset")
    fi
done

if [ -x scripts/fuzz.sh ] && [ $# -eq 0 ]; then
    echo "=== fuzz"
    bash scripts/fuzz.sh || failed+=(fuzz)
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}" >&2
    exit 1
fi
echo "all presets passed: ${presets[*]}"
