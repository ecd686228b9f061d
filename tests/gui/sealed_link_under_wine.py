#!/usr/bin/env python3
"""The Windows programs seal the link toward a native Linux relay: a native
vorlane-relay (threads engine, Server mode, LinkKey in its config) in front of
an echo server, then under Wine (whose sockets are the host's) the window test
gui_sealed_link_test.exe and vorlane-relay.exe in Client mode with the same
key. Bytes must come back intact; the native relay must see no failed
handshake. Exits 77 (skipped) when the native relay has not been built.
Usage: sealed_link_under_wine.py NATIVE_RELAY WINE_RUN STATE_DIR GUI_TEST RELAY_EXE"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from log_wait import PATIENCE, Failure, read, wait_for  # noqa: E402
from loopback import EchoServer, free_port, round_trip  # noqa: E402

KEY = "q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k="
SKIPPED = 77


def start_relay(command, folder, name, mode, target_port, wine=()):
    """A relay on the threads engine with the key in its config file."""
    config = os.path.join(folder, name + ".ini")
    with open(config, "w", encoding="ascii") as file:
        file.write(f"[Vorlane]\nLinkKey={KEY}\n")
    port = free_port()
    log = os.path.join(folder, name + ".log")
    arguments = [*wine, command, "--engine", "threads", "--encode", mode, "--config", config,
                 "--listen", str(port), "--target", "127.0.0.1",
                 "--target-port", str(target_port), "--drain-timeout", "0"]
    with open(log, "wb") as err:
        process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=err)
    wait_for(rf"event=listening .*port={port} ", log, process)
    return process, port, log


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=PATIENCE)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def echoed(port, payload):
    reply = round_trip(port, payload, PATIENCE)
    if reply != payload:
        raise Failure(f"{len(reply)} bytes came back changed or cut, of {len(payload)}")


def main():
    native_relay, wine_run, state, gui_test, relay_exe = sys.argv[1:6]
    if not os.access(native_relay, os.X_OK):
        print(f"skipped: no native relay at {native_relay}; build the native preset first")
        return SKIPPED
    wine = (wine_run, state)
    target = EchoServer()
    processes = []
    with tempfile.TemporaryDirectory() as folder:
        try:
            server, server_port, server_log = start_relay(native_relay, folder, "server",
                                                          "server", target.port)
            processes.append(server)

            environment = dict(os.environ, VORLANE_SEALED_PEER_PORT=str(server_port),
                               VORLANE_LINK_KEY=KEY)
            window = subprocess.run([*wine, gui_test], env=environment, timeout=240,
                                    stdin=subprocess.DEVNULL, check=False)
            if window.returncode != 0:
                raise Failure(f"the window's sealed test failed ({window.returncode})")

            client, client_port, client_log = start_relay(relay_exe, folder, "client",
                                                          "client", server_port, wine)
            processes.append(client)
            payload = bytes((i * 7 + i // 251) & 0xFF for i in range(300000))
            echoed(client_port, payload)
            wait_for(r"event=close .*up=300000 down=300000 ", client_log, client)
            wait_for(r"event=close .*up=300000 down=300000 ", server_log, server)
            if "handshake_failed" in read(server_log) or "bad_message" in read(server_log):
                raise Failure("a sealed connection failed:\n" + read(server_log))
        except Failure as failure:
            print(f"FAILED: {failure}", file=sys.stderr)
            return 1
        finally:
            for process in reversed(processes):
                stop(process)
    print("sealed link under Wine: 1 window case and 1 relay case passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
