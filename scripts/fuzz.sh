#!/usr/bin/env bash
# Builds the settings-reader fuzzer with clang (ASan + UBSan + libFuzzer) and
# runs it for a bounded time from the committed seeds. Any crash, hang, leak
# or sanitizer report fails the run and leaves the input in the build folder.
# FUZZ_SECONDS (default 60) bounds the run; FUZZ_BUILD_DIR picks the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build/fuzz}

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target ini_fuzzer

# New inputs go to a scratch copy; the committed seeds stay as they are.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/fuzz/corpus/* "$corpus"/
mkdir -p "$build/fuzz-artifacts"
"$build/tests/fuzz/ini_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" "$corpus"
echo "fuzz: ini_fuzzer ran ${seconds} s without a finding"
