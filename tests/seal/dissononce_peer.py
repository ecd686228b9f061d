"""The sealed link against an independent Noise implementation (dissononce):
seal_peer runs one end over loopback TCP, this script the other, in both
roles. Each side sends a few MB, its end marker (an empty message) and a
half-close, and reports the SHA-256 of what it read; both hashes must match
what the other sent, and each side must see the other's marker. Also: dissononce with
another key must be refused by seal_peer as handshake_failed.

usage: dissononce_peer.py SEAL_PEER"""
import base64
import hashlib
import os
import socket
import subprocess
import sys
import tempfile
import threading

from dissononce.extras.meta.protocol.factory import NoiseProtocolFactory

PROTOCOL = "Noise_NNpsk0_25519_ChaChaPoly_SHA256"
PROLOGUE = b"Vorlane sealed link 1"
MAX_PAYLOAD = 65535 - 16
TIMEOUT = 60


def frame(message):
    return len(message).to_bytes(2, "big") + message


def read_exactly(sock, size):
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_frame(sock):
    header = read_exactly(sock, 2)
    if header is None:
        return None
    return read_exactly(sock, int.from_bytes(header, "big"))


def handshake(sock, initiator, key):
    protocol = NoiseProtocolFactory().get_noise_protocol(PROTOCOL)
    state = protocol.create_handshakestate()
    state.initialize(protocol.pattern, initiator, PROLOGUE, psks=(key,))
    if initiator:
        message = bytearray()
        state.write_message(b"", message)
        sock.sendall(frame(bytes(message)))
        send, receive = state.read_message(read_frame(sock), bytearray())
        # The first transport message: seal_peer opens only on it.
        sock.sendall(frame(send.encrypt_with_ad(b"", b"")))
        return send, receive, b""
    state.read_message(read_frame(sock), bytearray())
    message = bytearray()
    initiator_send, initiator_receive = state.write_message(b"", message)
    sock.sendall(frame(bytes(message)))
    receive, send = initiator_send, initiator_receive
    first = receive.decrypt_with_ad(b"", read_frame(sock))
    return send, receive, first


def exchange(sock, initiator, key, payload):
    send, receive, first = handshake(sock, initiator, key)

    def send_all():
        # Uneven message sizes, the largest at the limit.
        sizes = [1, MAX_PAYLOAD, 1000, 65000, MAX_PAYLOAD]
        at, i = 0, 0
        while at < len(payload):
            n = sizes[i % len(sizes)]
            sock.sendall(frame(send.encrypt_with_ad(b"", payload[at:at + n])))
            at, i = at + n, i + 1
        # The end marker: an empty message before the end of the stream.
        sock.sendall(frame(send.encrypt_with_ad(b"", b"")))
        sock.shutdown(socket.SHUT_WR)

    sender = threading.Thread(target=send_all)
    sender.start()
    received = bytearray(first)
    ended = False
    while True:
        message = read_frame(sock)
        if message is None:
            break
        if ended:
            raise ValueError("a message after the end marker")
        opened = receive.decrypt_with_ad(b"", message)
        ended = not opened
        received += opened
    sender.join()
    if not ended:
        raise ValueError("the stream ended without the end marker")
    return bytes(received)


def run(seal_peer, dissononce_initiates, key_text, key, peer_data, our_data, workdir):
    key_file = os.path.join(workdir, "key")
    data_file = os.path.join(workdir, "data")
    with open(key_file, "w") as f:
        f.write(key_text)
    with open(data_file, "wb") as f:
        f.write(peer_data)
    if dissononce_initiates:
        child = subprocess.Popen([seal_peer, "responder", key_file, data_file],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        port = int(child.stdout.readline().split()[1])
        sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
    else:
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(TIMEOUT)
        child = subprocess.Popen([seal_peer, "initiator", str(listener.getsockname()[1]),
                                  key_file, data_file],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        sock, _ = listener.accept()
        listener.close()
    sock.settimeout(TIMEOUT)
    try:
        received = exchange(sock, dissononce_initiates, key, our_data)
    except Exception as error:  # the child's reason is the useful part
        received = None
        failure = error
    sock.close()
    out, err = child.communicate(timeout=TIMEOUT)
    if received is None:
        return None, child.returncode, err, failure
    return received, child.returncode, out + err, None


def main():
    seal_peer = sys.argv[1]
    key = os.urandom(32)
    key_text = base64.b64encode(key).decode()
    failures = 0
    with tempfile.TemporaryDirectory() as workdir:
        for dissononce_initiates in (True, False):
            role = "dissononce initiator" if dissononce_initiates else "dissononce responder"
            peer_data = os.urandom(3 * 1024 * 1024 + 17)
            our_data = os.urandom(2 * 1024 * 1024 + 5)
            received, code, report, error = run(seal_peer, dissononce_initiates, key_text, key,
                                                peer_data, our_data, workdir)
            expected = "received %d sha256 %s" % (len(our_data), hashlib.sha256(our_data).hexdigest())
            ok = (error is None and code == 0 and expected in report
                  and received == peer_data)
            print("%s: %s" % (role, "ok" if ok else "FAILED (%s, exit %s, %s)" % (error, code, report)))
            failures += not ok

        # dissononce with another key: seal_peer must refuse it by name.
        other = os.urandom(32)
        _, code, report, _ = run(seal_peer, True, key_text, other, b"x", b"y", workdir)
        ok = code == 1 and "handshake_failed" in report
        print("wrong key: %s" % ("ok" if ok else "FAILED (exit %s, %s)" % (code, report)))
        failures += not ok
    print("%d passed, %d failed" % (3 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
