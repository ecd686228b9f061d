#!/usr/bin/env bash
# Sets up this machine, builds every preset and runs every test: native,
# AddressSanitizer+UBSan, ThreadSanitizer, and 32-bit and 64-bit Windows under
# Wine. Both Windows builds are always built; their tests run under each
# architecture this machine can run, and the run fails if it can run neither.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

presets=(native asan tsan win32 win64)
if [ $# -gt 0 ]; then presets=("$@"); fi

failed=()
tested=()
windows_built=()
windows_tested=0
for preset in "${presets[@]}"; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    case "$preset" in
        win32 | win64)
            windows_built+=("$preset")
            if ! why=$(bash cmake/wine-arch.sh check "$preset" 2>&1); then
                echo "$preset: the ${preset#win}-bit Windows tests were not run: $why"
                continue
            fi
            windows_tested=1
            ;;
    esac
    tested+=("$preset")
    if ! ctest --preset "$preset"; then
        failed+=("$preset")
    fi
done

if [ ${#windows_built[@]} -gt 0 ] && [ "$windows_tested" -eq 0 ]; then
    echo "no Windows tests ran: this machine's Wine cannot run ${windows_built[*]}" >&2
    failed+=(windows)
fi

if [ -x scripts/fuzz.sh ] && [ $# -eq 0 ]; then
    echo "=== fuzz"
    bash scripts/fuzz.sh || failed+=(fuzz)
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}" >&2
    exit 1
fi
echo "all presets passed: ${tested[*]}"
