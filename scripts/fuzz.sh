#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan + libFuzzer) and runs
# each for a bounded time from its committed seeds (tests/fuzz/corpus/NAME,
# none if that folder is missing). Any crash, hang, leak or sanitizer report
# fails the run and leaves the input in the build folder.
# FUZZ_SECONDS (default 20) bounds each target's run; FUZZ_BUILD_DIR picks the
# build folder; arguments, if any, name the targets to run instead of all.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every target, in the order they run; a new one is one more word here.
fuzzers=(ini_fuzzer address_fuzzer allow_list_fuzzer config_fuzzer metrics_head_fuzzer seal_fuzzer)
if [ "$#" -gt 0 ]; then
    fuzzers=("$@")
fi
seconds=${FUZZ_SECONDS:-20}
build=${FUZZ_BUILD_DIR:-build/fuzz}

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target "${fuzzers[@]}"

# New inputs go to scratch copies; the committed seeds stay as they are.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz-artifacts"
for fuzzer in "${fuzzers[@]}"; do
    corpus="$scratch/$fuzzer"
    mkdir "$corpus"
    if [ -d "tests/fuzz/corpus/$fuzzer" ]; then
        cp "tests/fuzz/corpus/$fuzzer"/* "$corpus"/
    fi
    "$build/tests/fuzz/$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$fuzzer-" \
        "$corpus"
    echo "fuzz: $fuzzer ran ${seconds} s without a finding"
done
