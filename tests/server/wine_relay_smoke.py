#!/usr/bin/env python3
"""The Windows relay under Wine, with each engine: it logs its listening line
on stderr, relays a loopback connection, a second relay on the same port exits
1 with the engine's taken-port line, and the console's Ctrl+C (Wine turns
SIGINT into it) drains on the first press and ends at once on the second.
Usage: wine_relay_smoke.py WINE_RUN STATE_DIR RELAY_EXE"""
import datetime
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from log_wait import PATIENCE, Failure, read, wait_for  # noqa: E402
from loopback import EchoServer, free_port  # noqa: E402

TAKEN = "Listen failed, Maybe the local port you specified is taken, please try another port!"
# The line a second relay on a taken port ends with, on either engine.
TAKEN_LINE = re.compile(r'level=error event=start_failed message="' + re.escape(TAKEN) +
                        r'" error="bind: [^"]+"$', re.M)
STAMP = re.compile(r"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})Z ", re.M)
# Far more than a test takes; a time from a wrong conversion is off by hours or years.
CLOCK_SLACK = datetime.timedelta(minutes=10)


def echoed(client, payload):
    client.sendall(payload)
    reply = b""
    while len(reply) < len(payload) and (data := client.recv(64)):
        reply += data
    if reply != payload:
        raise Failure(f"relayed {reply!r}, not {payload!r}")


def check_stamp(line):
    stamp = STAMP.match(line)
    if not stamp:
        raise Failure(f"no UTC time stamp: {line!r}")
    logged = datetime.datetime.fromisoformat(stamp.group(1)).replace(tzinfo=datetime.timezone.utc)
    if abs(datetime.datetime.now(datetime.timezone.utc) - logged) > CLOCK_SLACK:
        raise Failure(f"the time stamp is not now: {line!r}")


def check_engine(engine, run_relay, echo_port):
    port = free_port()
    command = run_relay + ["--engine", engine, "--listen", str(port), "--target-port",
                           str(echo_port), "--drain-timeout", "60"]
    with tempfile.TemporaryDirectory() as folder:
        out, err = os.path.join(folder, "out"), os.path.join(folder, "err")
        with open(out, "wb") as out_file, open(err, "wb") as err_file:
            relay = subprocess.Popen(command, stdout=out_file, stderr=err_file)
        try:
            listening = wait_for(rf"^.*level=info event=listening .*\bport={port} .*"
                                 rf"engine={engine}$", err, relay)
            check_stamp(listening.group(0))
            with socket.create_connection(("127.0.0.1", port), timeout=PATIENCE) as client:
                echoed(client, b"through wine")

                second = subprocess.run(command, capture_output=True, text=True,
                                        timeout=PATIENCE)
                if second.returncode != 1 or not TAKEN_LINE.search(second.stderr):
                    raise Failure(f"second relay: exit {second.returncode}, {second.stderr!r}")

                # The longest drain outlasts the test: only the second Ctrl+C ends it.
                relay.send_signal(signal.SIGINT)
                wait_for(r"level=info event=stopping live=1 drain_timeout=60$", err, relay)
                echoed(client, b"while draining")
                relay.send_signal(signal.SIGINT)
                code = relay.wait(timeout=PATIENCE)
            if code != 0 or "level=warn event=stopped_at_once" not in read(err):
                raise Failure(f"after a second Ctrl+C: exit {code}\n{read(err)}")
            if read(out):
                raise Failure(f"stdout holds {read(out)!r}")
        finally:
            if relay.poll() is None:
                relay.kill()
                relay.wait(timeout=30)


def main():
    wine_run, state, relay = sys.argv[1:4]
    echo = EchoServer()
    try:
        for engine in ("events", "threads"):
            try:
                check_engine(engine, [wine_run, state, relay], echo.port)
            except (Failure, OSError, subprocess.TimeoutExpired) as error:
                sys.exit(f"{engine} engine: {error}")
    finally:
        echo.close()
    print("both engines relayed under Wine; a taken port exits 1; a second Ctrl+C ends the drain")


if __name__ == "__main__":
    main()
