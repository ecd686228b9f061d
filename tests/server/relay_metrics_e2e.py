#!/usr/bin/python3
"""vorlane-relay --metrics end to end, on each engine: the endpoint answers
while the relay listens, a relayed connection shows in the counters scraped
after it, a second relay on the same metrics port exits 1, and a stop request
ends the relay with 0.
Usage: relay_metrics_e2e.py [--wine WINE_RUN STATE_DIR] RELAY_EXE
With --wine the Windows relay runs under Wine, which turns SIGINT into the
console's Ctrl+C and ends a program outright on SIGTERM."""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from loopback import EchoServer, free_port, round_trip  # noqa: E402
from scrape_metrics import ScrapeError, key, scrape  # noqa: E402

PATIENCE = 10  # seconds, after the relay has started


def wait_for_scrape(url, relay, condition, patience=PATIENCE):
    """The first scrape that meets the condition; fails after `patience` seconds."""
    deadline = time.monotonic() + patience
    last = None
    while time.monotonic() < deadline:
        if relay.poll() is not None:
            sys.exit(f"the relay exited with {relay.returncode}")
        try:
            last = scrape(url, timeout=2)
            if condition(last):
                return last
        except (ScrapeError, OSError):
            pass
        time.sleep(0.1)
    sys.exit(f"no scrape as expected; the last: {last}")


def relay_through(port, payload):
    reply = round_trip(port, payload, PATIENCE)
    if reply != payload:
        sys.exit(f"relayed {len(reply)} of {len(payload)} bytes")


def closed(samples):
    return sum(v for (name, _), v in samples.items()
               if name == "vorlane_connections_closed_total")


def expect(samples, expected):
    wrong = {k: samples.get(k) for k, v in expected.items() if samples.get(k) != v}
    if wrong:
        sys.exit(f"expected {expected}, found {wrong}")


def command_line():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", nargs=2, metavar=("WINE_RUN", "STATE_DIR"), default=[])
    parser.add_argument("relay")
    arguments = parser.parse_args()
    return arguments.wine + [arguments.relay], bool(arguments.wine)


def expect_metrics_port_taken(run_relay, metrics_port, patience):
    taken = subprocess.run(run_relay + ["--listen", "0", "--metrics", f"127.0.0.1:{metrics_port}"],
                           capture_output=True, text=True, timeout=patience)
    if taken.returncode != 1 or "level=error event=metrics_failed" not in taken.stderr:
        sys.exit(f"a second relay on the metrics port: exit {taken.returncode}, {taken.stderr!r}")


def check_engine(engine, run_relay, under_wine):
    run_relay = run_relay + ["--engine", engine]
    # A Wine start takes seconds; its stop request is Ctrl+C.
    start_patience = 60 if under_wine else PATIENCE
    stop_signal = signal.SIGINT if under_wine else signal.SIGTERM
    echo = EchoServer()
    port, metrics_port = free_port(), free_port()
    url = f"http://127.0.0.1:{metrics_port}/metrics"
    payload = bytes(range(256)) * 20  # 5120 bytes
    with tempfile.TemporaryFile() as log:
        relay = subprocess.Popen(
            run_relay + ["--listen", str(port), "--target-port", str(echo.port),
                         "--metrics", f"127.0.0.1:{metrics_port}"],
            stdout=log, stderr=subprocess.STDOUT)
        try:
            before = wait_for_scrape(url, relay,
                                     lambda s: s.get(key("vorlane_listening")) == 1,
                                     start_patience)
            expect(before, {key("vorlane_connections_accepted_total"): 0,
                            key("vorlane_connections_open"): 0,
                            key("vorlane_bytes_total", direction="up"): 0,
                            key("vorlane_bytes_total", direction="down"): 0})
            versions = [dict(labels)["version"] for (name, labels) in before
                        if name == "vorlane_build_info"]
            if len(versions) != 1 or not re.fullmatch(r"\d+\.\d+\.\d+", versions[0]):
                sys.exit(f"build info versions {versions}")

            relay_through(port, payload)
            after = wait_for_scrape(url, relay, lambda s: closed(s) == 1)
            expect(after, {key("vorlane_connections_accepted_total"): 1,
                           key("vorlane_connections_open"): 0,
                           key("vorlane_relay_shares"): 0,
                           key("vorlane_bytes_total", direction="up"): len(payload),
                           key("vorlane_bytes_total", direction="down"): len(payload),
                           key("vorlane_connect_failures_total"): 0,
                           key("vorlane_listening"): 1})
            ended_in_order = sum(after[key("vorlane_connections_closed_total", reason=r)]
                                 for r in ("client_closed", "target_closed"))
            if ended_in_order != 1:
                sys.exit(f"closed by {after}")

            expect_metrics_port_taken(run_relay, metrics_port, start_patience)

            relay.send_signal(stop_signal)
            if relay.wait(timeout=PATIENCE + 10) != 0:
                sys.exit(f"the relay exited with {relay.returncode} after {stop_signal.name}")
        finally:
            if relay.poll() is None:
                relay.kill()
                relay.wait(timeout=PATIENCE)
            echo.close()
            log.seek(0)
            sys.stdout.write(log.read().decode("utf-8", "replace"))


def main():
    run_relay, under_wine = command_line()
    for engine in ("events", "threads"):
        print(f"{engine} engine:")
        check_engine(engine, run_relay, under_wine)
    print("metrics scraped before and after a relayed connection; a taken metrics port exits 1")


if __name__ == "__main__":
    main()
