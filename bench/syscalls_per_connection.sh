#!/usr/bin/env bash
# System calls and voluntary context switches per connection of one relay,
# counted rather than timed, so the figures hold on a busy machine.
#
#   bench/syscalls_per_connection.sh events|floor|rinetd|haproxy [CONNECTIONS]
#
# Starts relay_bench's target and the relay on loopback, then opens
# CONNECTIONS connections one after another (one byte echoed, then closed):
# once to count the relay's context switches (/proc), once under
# `strace -f -c` to count its system calls. Uses build/bench (bench/run.sh
# builds it); RELAY=path measures another vorlane-relay.
set -euo pipefail
cd "$(dirname "$0")/.."

name=$1
count=${2:-2000}
bench=build/bench/bench/relay_bench
relay=${RELAY:-build/bench/src/server/vorlane-relay}
work=$(mktemp -d)
target_port=$((20000 + RANDOM % 10000))
listen=$((target_port + 1))

"$bench" --serve-target "$target_port" &
target_pid=$!
case $name in
rinetd)
    echo "127.0.0.1 $listen 127.0.0.1 $target_port" >"$work/rinetd.conf"
    rinetd -f -c "$work/rinetd.conf" &
    ;;
haproxy)
    printf 'global\n nbthread 2\n maxconn 9000\ndefaults\n mode tcp\n timeout connect 5s\n timeout client 30s\n timeout server 30s\nlisten relay\n bind 127.0.0.1:%s\n server target 127.0.0.1:%s\n' \
        "$listen" "$target_port" >"$work/haproxy.cfg"
    haproxy -db -f "$work/haproxy.cfg" &
    ;;
events)
    "$relay" --listen "$listen" --target 127.0.0.1 --target-port "$target_port" --limit 100000 \
        --clients-per-address 0 --first-byte-timeout 0 --engine events 2>/dev/null &
    ;;
floor)
    build/bench/bench/floor_relay "$listen" "$target_port" &
    ;;
*)
    echo "usage: $0 events|floor|rinetd|haproxy [CONNECTIONS]" >&2
    exit 2
    ;;
esac
relay_pid=$!
trap 'kill $relay_pid $target_pid 2>/dev/null; rm -rf "$work"' EXIT

clients() {
    python3 - "$listen" "$1" <<'PY'
import socket, sys, time
port, count = int(sys.argv[1]), int(sys.argv[2])
for attempt in range(100):  # the relay may still be starting
    try:
        socket.create_connection(("127.0.0.1", port)).close()
        break
    except OSError:
        time.sleep(0.05)
for _ in range(count):
    with socket.create_connection(("127.0.0.1", port)) as client:
        client.sendall(b"E")
        assert client.recv(1) == b"E"
PY
}
switches() {
    cat /proc/"$relay_pid"/task/*/status | awk '/^voluntary_ctxt/ { n += $2 } END { print n }'
}

clients 50  # warm-up
before=$(switches)
clients "$count"
after=$(switches)

threads=()
for task in /proc/"$relay_pid"/task/*; do threads+=(-p "${task##*/}"); done
strace -f -c -o "$work/strace" "${threads[@]}" &
strace_pid=$!
sleep 0.5
clients "$count"
sleep 0.3
kill -INT $strace_pid
wait $strace_pid || true

awk -v n="$count" -v name="$name" -v switches="$((after - before))" '
    $NF == "total" { total = $4 }
    NR > 2 && $1 !~ /^-/ && $NF != "total" { calls[$NF] = $4; errors[$NF] = (NF == 6) ? $5 : 0 }
    END {
        printf "%s: %.1f system calls, %.2f voluntary context switches per connection\n",
               name, total / n, switches / n
        for (call in calls) if (calls[call] / n >= 0.05)
            printf "  %-16s %5.2f%s\n", call, calls[call] / n,
                   errors[call] ? sprintf("  (%.2f failed)", errors[call] / n) : ""
    }' "$work/strace" | sort -k2 -nr
