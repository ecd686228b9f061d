"""Loopback peers for the Python tests that drive Windows programs under Wine:
an echo server and a port that is free at the moment it is asked for."""
import socket
import threading


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class EchoServer:
    """Sends every byte back, one thread per connection, on 127.0.0.1:port."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.running = True
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while self.running:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                continue
            threading.Thread(target=self.echo, args=(connection,), daemon=True).start()

    def echo(self, connection):
        connection.settimeout(60)
        with connection:
            try:
                while self.running and (data := connection.recv(4096)):
                    connection.sendall(data)
            except OSError:
                pass

    def close(self):
        self.running = False
        self.thread.join(timeout=5)
        self.listener.close()


def round_trip(port, payload, timeout=60):
    """What comes back for the payload through 127.0.0.1:port."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as client:
        client.sendall(payload)
        reply = b""
        while len(reply) < len(payload) and (data := client.recv(65536)):
            reply += data
    return reply
