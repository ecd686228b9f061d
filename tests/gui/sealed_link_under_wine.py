#!/usr/bin/env python3
"""The Windows programs seal the link toward a native Linux relay: a native
vorlane-relay (threads engine, Server mode, LinkKey in its config) in front of
an echo server, then under Wine (whose sockets are the host's) the window test
gui_sealed_link_test.exe and vorlane-relay.exe in Client mode with the same
key. Bytes must come back intact; the native relay must see no failed
handshake. The Windows relay also meets a target that never answers. Exits 77 (skipped) when the native relay has not been built.
Usage: sealed_link_under_wine.py NATIVE_RELAY WINE_RUN STATE_DIR GUI_TEST RELAY_EXE"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

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


class SilentTarget:
    """Accepts one connection, keeps what arrives and never answers."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.received = b""
        self.thread = threading.Thread(target=self.hold, daemon=True)
        self.thread.start()

    def hold(self):
        self.listener.settimeout(PATIENCE)
        try:
            connection, _ = self.listener.accept()
        except OSError:
            return
        connection.settimeout(PATIENCE)
        with connection:
            try:
                while data := connection.recv(4096):
                    self.received += data
            except OSError:
                pass

    def close(self):
        self.listener.close()
        self.thread.join(timeout=PATIENCE)


def check_stalled_handshake(relay_exe, wine, folder):
    """The Windows relay gives up on a target that never answers its
    handshake at the deadline (a receive time-out on Windows sockets), and
    none of its client's bytes reach that target."""
    silent = SilentTarget()
    relay = None
    try:
        relay, port, log = start_relay(relay_exe, folder, "stalled", "client", silent.port, wine)
        with socket.create_connection(("127.0.0.1", port), timeout=PATIENCE) as client:
            client.sendall(b"plain secret")
            started = time.monotonic()
            wait_for(r"event=close .*reason=handshake_failed", log, relay)
            waited = time.monotonic() - started
        if waited < 8:
            raise Failure(f"gave up after {waited:.1f} s, before the deadline")
        silent.thread.join(timeout=PATIENCE)
        if len(silent.received) != 2 + 48 or b"plain secret" in silent.received:
            raise Failure(f"the silent target got {silent.received!r}")
    finally:
        if relay is not None:
            stop(relay)
        silent.close()


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
            stop(client)
            check_stalled_handshake(relay_exe, wine, folder)
        except Failure as failure:
            print(f"FAILED: {failure}", file=sys.stderr)
            return 1
        finally:
            for process in reversed(processes):
                stop(process)
    print("sealed link under Wine: 1 window case and 2 relay cases passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
