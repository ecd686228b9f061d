#!/usr/bin/env python3
"""Vorlane.exe under Wine when descriptors run out: accepting fails, the accept
thread shows "accept error，errorid=N" in an unowned box and waits there
without spinning, and once descriptors are free and the box is dismissed the
waiting client and a new one are relayed.

Under Wine the accept is made by the wineserver, so its descriptor limit is the
one lowered. The first window of a thread registers the thread's X connection
with the wineserver, which takes a descriptor there; starved, Wine shows the
box without it and the program relays nothing afterwards. So the first
starvation pauses the test's own X server: the box waits for it, the limit is
raised again, and the X server goes on. From then on the accept thread needs
no descriptor to show a box, and the second starvation is a plain one.

Usage: accept_error_box.py STATE_DIR VORLANE_EXE PROBE_EXE
STATE_DIR keeps a private Wine prefix (made on first use), so a starved
wineserver never touches the prefix of the other tests."""
import glob
import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from loopback import EchoServer, free_port  # noqa: E402
WINE_PREFIX_SH = os.path.join(HERE, "..", "..", "cmake", "wine-prefix.sh")
WINE_ARCH_SH = os.path.join(HERE, "..", "..", "cmake", "wine-arch.sh")
# Wine passes the wineserver's EMFILE on as a status that Winsock has no
# mapping for, so the code is not always WSAEMFILE; any code is shown.
ACCEPT_ERROR = re.compile("box 0 accept error\uff0cerrorid=(-?[0-9]+)")
HELP_COMMAND = 32773
STEP = 0.05
ACCEPT_SETTLE = 2


def fail(message):
    raise AssertionError(message)


def wait_for(ready, limit, what):
    """Polls `ready` for at most `limit` seconds; a wait that runs out fails."""
    deadline = time.monotonic() + limit
    while not ready():
        if time.monotonic() >= deadline:
            fail("timed out waiting for " + what)
        time.sleep(STEP)


def start_xvfb(work):
    for number in range(141, 190):
        if os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        log = open(os.path.join(work, "xvfb.log"), "wb")
        xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], stdout=log, stderr=log)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and xvfb.poll() is None:
            if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                return xvfb, f":{number}"
            time.sleep(STEP)
        stop(xvfb)
    fail("no X display could be started")


def stop(process):
    """Ends a process of this test by its own handle: politely, then for sure."""
    for end in (process.terminate, process.kill):
        if process.poll() is not None:
            return
        end()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass


def receive(client, count, limit=10):
    """Up to `count` bytes; fewer when the peer closes or `limit` seconds pass."""
    client.settimeout(limit)
    received = b""
    try:
        while len(received) < count and (chunk := client.recv(count - len(received))):
            received += chunk
    except OSError:
        pass
    return received


def echoed(client, payload, limit=10):
    client.sendall(payload)
    return receive(client, len(payload), limit)


class Probe:
    """The Windows helper in the same prefix: one command, one answer line."""

    def __init__(self, env, exe):
        self.process = subprocess.Popen([env["WINELOADER"], exe], env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True, encoding="utf-8")

    def ask(self, command, limit=30):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = []
        reader = threading.Thread(target=lambda: answer.append(self.process.stdout.readline()))
        reader.start()
        reader.join(timeout=limit)
        if not answer:
            fail(f"the probe did not answer {command!r}")
        return answer[0].rstrip("\r\n")

    def close(self):
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.flush()
            self.process.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            pass
        stop(self.process)


def lowest_free_descriptor(pid):
    used = {int(name) for name in os.listdir(f"/proc/{pid}/fd")}
    return next(n for n in range(len(used) + 1) if n not in used)


def steady_lowest_free_descriptor(pid):
    """The lowest free descriptor once it has held still for half a second."""
    last, since = None, time.monotonic()
    deadline = since + 10
    while time.monotonic() < deadline:
        now = lowest_free_descriptor(pid)
        if now != last:
            last, since = now, time.monotonic()
        elif time.monotonic() - since >= 0.5:
            return now
        time.sleep(STEP)
    fail("the wineserver's descriptors never settled")


class DescriptorLimit:
    """Moves only the soft limit of the wineserver: raising a hard limit needs a
    privilege this test may not have."""

    def __init__(self, pid):
        self.pid = pid
        self.soft, self.hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)

    def starve(self):
        # Every descriptor below the limit is in use: the next one fails.
        resource.prlimit(self.pid, resource.RLIMIT_NOFILE,
                         (steady_lowest_free_descriptor(self.pid), self.hard))

    def restore(self):
        resource.prlimit(self.pid, resource.RLIMIT_NOFILE, (self.soft, self.hard))


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wine_loader(state):
    """The loader of the architecture that the build tree wrote into STATE_DIR."""
    with open(os.path.join(state, "arch")) as arch:
        return subprocess.run(["bash", WINE_ARCH_SH, "loader", arch.read().strip()],
                              check=True, capture_output=True, text=True).stdout.strip()


def run(state, vorlane_exe, probe_exe, work):
    xvfb, display = start_xvfb(work)
    processes = [xvfb]
    env = dict(os.environ, WINEPREFIX=os.path.join(state, "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d", DISPLAY=display,
               WINELOADER=wine_loader(state))
    echo = EchoServer()
    probe = None
    try:
        subprocess.run(["bash", WINE_PREFIX_SH, state], env=env, check=True, timeout=180)
        # A wineserver of our own, so its PID is known.
        server = subprocess.Popen(["wineserver", "-f", "-p"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(server)
        time.sleep(0.5)

        port = free_port()
        folder = os.path.join(work, "app")
        os.mkdir(folder)
        shutil.copy(vorlane_exe, os.path.join(folder, "Vorlane.exe"))
        # The DLLs it loads lie beside it in the build tree, as in the zip.
        for dll in glob.glob(os.path.join(os.path.dirname(vorlane_exe), "*.dll")):
            shutil.copy(dll, folder)
        with open(os.path.join(folder, "Setting.ini"), "wb") as ini:
            ini.write(("[Vorlane]\r\nLocalListenPort=%d\r\nConnectionLimit=100\r\n"
                       "DestAddr=127.0.0.1\r\nDestPort=%d\r\nEncodeClient=0\r\n"
                       "EncodeServer=0\r\nAutoStart=1\r\nMinHideToTray=0\r\n"
                       % (port, echo.port)).encode())
        vorlane = subprocess.Popen([env["WINELOADER"], "Vorlane.exe"], cwd=folder, env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(vorlane)
        probe = Probe(env, probe_exe)

        # Help shows a box on the window's thread: the libraries any box needs
        # are loaded before the wineserver runs short.
        wait_for(lambda: probe.ask(f"post {HELP_COMMAND}") == "ok", 30, "the main window")
        help_box = probe.ask("box 10000")
        if not help_box.startswith("box 1 "):
            fail("Help showed no owned box: " + help_box)
        if probe.ask("dismiss") != "ok":
            fail("the Help box could not be dismissed")

        def served():
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=2) as client:
                    return echoed(client, b"warm", 5) == b"warm"
            except OSError:
                return False
        wait_for(served, 20, "the relay to serve a first client")

        limit = DescriptorLimit(server.pid)
        os.kill(xvfb.pid, signal.SIGSTOP)
        try:
            limit.starve()
            waiting = socket.create_connection(("127.0.0.1", port), timeout=5)
            waiting.sendall(b"ping")
            # The accept thread wakes, its accept fails, and its box waits for
            # the paused X server; two seconds is ample for that wake-up.
            time.sleep(ACCEPT_SETTLE)
        finally:
            limit.restore()
            os.kill(xvfb.pid, signal.SIGCONT)

        first = probe.ask("box 10000")
        shown = ACCEPT_ERROR.fullmatch(first)
        if not shown:
            fail(f"expected an unowned accept error box, got: {first} ({probe.ask('status')})")

        # Still out of descriptors: dismissing leads straight to the next
        # failed accept and the next box, which blocks the thread again.
        limit.starve()
        try:
            if probe.ask("dismiss") != "ok":
                fail("the first box could not be dismissed")
            second = probe.ask("box 10000")
            if second != first:
                fail("expected the same accept error box again, got: " + second)
            cpu_before = cpu_seconds(vorlane.pid)
            time.sleep(2)
            cpu = cpu_seconds(vorlane.pid) - cpu_before
            boxes = probe.ask("count")
        finally:
            limit.restore()
        print(f"accept error {shown.group(1)}; while out of descriptors: "
              f"{cpu:.2f} s CPU in 2 s, {boxes}")
        if cpu >= 0.5:
            fail("the accept thread spins while out of descriptors")
        if boxes != "count 1":
            fail("expected one box at a time, got " + boxes)

        # Descriptors are free again: the waiting client is accepted with what
        # it sent meanwhile, and a new client is relayed too.
        if probe.ask("dismiss") != "ok":
            fail("the second box could not be dismissed")
        got = receive(waiting, 4)
        if got != b"ping":
            fail(f"the waiting client was not relayed (got {got!r})")
        if echoed(waiting, b"more") != b"more":
            fail("the waiting client's connection does not relay both ways")
        waiting.close()
        with socket.create_connection(("127.0.0.1", port), timeout=5) as fresh:
            if echoed(fresh, b"fresh") != b"fresh":
                fail("a new client was not relayed after the error")
        left = probe.ask("count")
        if left != "count 0":
            fail("a box is left over: " + left)
        status = probe.ask("status")
        if status != f"status Listening on port {port}...":
            fail("the run did not go on: " + status)
        if vorlane.poll() is not None:
            fail("Vorlane.exe ended")
    finally:
        if probe:
            probe.close()
        echo.close()
        # Ends every Wine process of the private prefix (its services too).
        subprocess.run(["wineserver", "-k"], env=env, timeout=30, check=False)
        for process in reversed(processes):
            if process is xvfb:
                try:
                    os.kill(xvfb.pid, signal.SIGCONT)
                except OSError:
                    pass
            stop(process)


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    state, vorlane_exe, probe_exe = (os.path.abspath(a) for a in sys.argv[1:])
    work = tempfile.mkdtemp(prefix="vorlane-accept-error-")
    try:
        run(state, vorlane_exe, probe_exe, work)
    except AssertionError as error:
        print("FAILED:", error)
        print("0 passed, 1 failed")
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
