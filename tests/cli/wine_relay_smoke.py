#!/usr/bin/env python3
"""The Windows relay under Wine: it relays one connection to a loopback echo
server, and a second relay on the same port exits 1 with the taken-port text.
Usage: wine_relay_smoke.py WINE_RUN STATE_DIR RELAY_EXE"""
import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback import EchoServer, free_port  # noqa: E402

TAKEN = "Listen failed, Maybe the local port you specified is taken, please try another port!"


def wait_for_text(path, text, process, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with open(path, encoding="latin-1") as out:
            if text in out.read():
                return True
        if process.poll() is not None:
            return False
        time.sleep(0.1)
    return False


def main():
    wine_run, state, relay = sys.argv[1:4]
    echo = EchoServer()
    port = free_port()
    command = [wine_run, state, relay, "--listen", str(port), "--target-port",
               str(echo.port)]
    with tempfile.NamedTemporaryFile() as out:
        first = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)
        try:
            if not wait_for_text(out.name, f"Listening on port {port}...", first, 60):
                sys.exit("the relay did not start listening")
            with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
                client.sendall(b"through wine")
                reply = b""
                while len(reply) < 12 and (data := client.recv(64)):
                    reply += data
            if reply != b"through wine":
                sys.exit(f"relayed {reply!r}")

            second = subprocess.run(command, capture_output=True, text=True, timeout=60)
            if second.returncode != 1 or TAKEN not in second.stderr:
                sys.exit(f"second relay: exit {second.returncode}, {second.stderr!r}")
        finally:
            first.kill()
            first.wait(timeout=30)
            echo.close()
    print("relayed under Wine; a taken port exits 1")


if __name__ == "__main__":
    main()
