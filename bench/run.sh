#!/usr/bin/env bash
# Builds relay_bench and vorlane-relay (Release, in build/bench), measures both
# of its engines beside direct, socat, rinetd and haproxy on loopback, and its
# relay pairs beside spiped and an ssh -L forward, and writes the Markdown
# report to build/bench/results.md (and stdout).
#
#   bench/run.sh                      # the full comparison, three rounds
#   bench/run.sh --rounds 1 --only direct,vorlane-events
#   bench/run.sh --rounds 2 --idle-connections 0 \
#       --only vorlane-pair-sealed,spiped,ssh-chacha20,vorlane-pair-map
#
# Arguments are passed to relay_bench after the defaults, so they win.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/bench
report="$build/results.md"
relay="$build/src/server/vorlane-relay"

bash scripts/bootstrap.sh
cmake --preset native -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target relay_bench
# A missing vorlane-relay is reported as skipped; the peers are still measured.
if ! cmake --build "$build" -j2 --target vorlane-relay >"$build/vorlane-relay-build.log" 2>&1; then
    echo "run.sh: vorlane-relay did not build, see $build/vorlane-relay-build.log" >&2
    rm -f "$relay"
fi

args=(--relay-path "$relay" --rounds 3 --connect-seconds 3)
# As root: a raised priority, so that other work's bursts on a shared machine
# do not land on one relay's turn (the relays inherit it), and idle CPUs kept
# polling, so that wake-ups in a virtual machine do not swamp the latencies.
priority=()
if [ "$(id -u)" -eq 0 ]; then
    priority=(nice -n -15)
    args+=(--hold-cpus-awake)
fi
args+=("$@")
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"${priority[@]}" "$build/bench/relay_bench" "${args[@]}" --markdown "$build/table.md"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
    echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, Linux $(uname -r)," \
        "$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)."
    echo "Load average before: $load_before; after: $load_after."
    echo "Versions: $(socat -V 2>/dev/null | sed -n 's/^socat version \([^ ]*\).*/socat \1/p')," \
        "$(rinetd -v 2>/dev/null | head -1), $(haproxy -v 2>/dev/null | head -1 | cut -d' ' -f1-3)," \
        "$(spiped -v 2>&1 | head -1), $(ssh -V 2>&1 | cut -d, -f1)."
    echo "Command: bench/run.sh $*${priority[*]:+ (run at ${priority[*]})}"
    echo
    cat "$build/table.md"
} >"$report"
echo
echo "report: $report"
