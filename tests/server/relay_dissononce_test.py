"""vorlane-relay's sealed link against an independent Noise implementation
(dissononce): a dissononce initiator through a Server-mode relay to an echo
target, and a plain client through a Client-mode relay to a dissononce
responder. Each side's bytes must arrive whole, and the half-close must come
through.

usage: relay_dissononce_test.py VORLANE_RELAY"""
import base64
import os
import socket
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "seal"))
from dissononce_peer import TIMEOUT, exchange  # noqa: E402


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_relay(relay, workdir, mode, key_text, target_port):
    """A relay with the key in its config file; returns it and its port, or a failure."""
    config = os.path.join(workdir, mode + ".ini")
    with open(config, "w") as f:
        f.write("[Vorlane]\nLinkKey=%s\n" % key_text)
    for _ in range(3):  # another program may take the port first
        port = free_port()
        child = subprocess.Popen([relay, "--config", config, "--encode", mode,
                                  "--listen", str(port), "--target-port", str(target_port)],
                                 stderr=subprocess.PIPE, text=True)
        for line in child.stderr:
            if " port=%d target=" % port in line:
                threading.Thread(target=child.stderr.read, daemon=True).start()
                return child, port
        child.wait(timeout=TIMEOUT)
    raise RuntimeError("the %s relay did not start" % mode)


def stop(child):
    child.terminate()
    child.wait(timeout=TIMEOUT)


def listener():
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(1)
    sock.settimeout(TIMEOUT)
    return sock


def read_to_end(sock):
    data = bytearray()
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return bytes(data)
        data += chunk


def echo_once(server):
    conn, _ = server.accept()
    conn.settimeout(TIMEOUT)
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            break
        conn.sendall(chunk)
    conn.shutdown(socket.SHUT_WR)
    conn.close()


def dissononce_initiator_through_server_relay(relay, workdir, key_text, key):
    target = listener()
    echo = threading.Thread(target=echo_once, args=(target,))
    echo.start()
    child, port = start_relay(relay, workdir, "server", key_text, target.getsockname()[1])
    try:
        payload = os.urandom(2 * 1024 * 1024 + 3)
        sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        received = exchange(sock, True, key, payload)
        sock.close()
        echo.join(TIMEOUT)
        return received == payload
    finally:
        stop(child)
        target.close()


def client_relay_to_dissononce_responder(relay, workdir, key_text, key):
    far = listener()
    child, port = start_relay(relay, workdir, "client", key_text, far.getsockname()[1])
    try:
        ours = os.urandom(1024 * 1024 + 7)
        theirs = os.urandom(3 * 1024 * 1024 + 1)
        results = {}

        def responder():
            conn, _ = far.accept()
            conn.settimeout(TIMEOUT)
            results["far"] = exchange(conn, False, key, theirs)
            conn.close()

        far_side = threading.Thread(target=responder)
        far_side.start()
        client = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        sender = threading.Thread(target=lambda: (client.sendall(ours),
                                                  client.shutdown(socket.SHUT_WR)))
        sender.start()
        results["client"] = read_to_end(client)
        sender.join(TIMEOUT)
        far_side.join(TIMEOUT)
        client.close()
        return results.get("far") == ours and results.get("client") == theirs
    finally:
        stop(child)
        far.close()


def main():
    relay = sys.argv[1]
    key = os.urandom(32)
    key_text = base64.b64encode(key).decode()
    failures = 0
    with tempfile.TemporaryDirectory() as workdir:
        for name, case in (("dissononce initiator through a Server-mode relay",
                            dissononce_initiator_through_server_relay),
                           ("Client-mode relay to a dissononce responder",
                            client_relay_to_dissononce_responder)):
            try:
                ok = case(relay, workdir, key_text, key)
            except Exception as error:  # a failed case is reported, the others still run
                ok = False
                print("%s: %s" % (name, error))
            print("%s: %s" % (name, "ok" if ok else "FAILED"))
            failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
