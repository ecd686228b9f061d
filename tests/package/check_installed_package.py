#!/usr/bin/env python3
"""The relay's package installed for real with dpkg: the program prints its
version, is built hardened (stack protector, fortified functions, PIE,
BIND_NOW), relays one connection on 127.0.0.1 from the example
configuration, and dpkg -r then dpkg -P take everything away again (the
conffile only with the purge); its maintainer scripts run through all three. Needs root; exits 77 (skipped) without it, or when a
vorlane-relay package is installed already, which this test must not touch.

Usage: check_installed_package.py DEB VERSION"""
import os
import re
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback import EchoServer, free_port  # noqa: E402

PACKAGE = "vorlane-relay"
PROGRAM = "/usr/bin/vorlane-relay"
EXAMPLE = "/etc/vorlane/example.ini"
UNIT = "/lib/systemd/system/vorlane-relay@.service"
SKIPPED = 77
PATIENCE = 20
DEADLINE = 60
PAYLOAD = b"through the installed relay"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def give_up(*_):
    raise Failure(f"not done after {DEADLINE} s")


def package_state():
    done = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", PACKAGE],
                          capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else "not-installed"


def dpkg(*arguments):
    """dpkg, waiting a bounded while for a lock that another apt or dpkg holds."""
    for _ in range(30):
        done = subprocess.run(["dpkg", *arguments], capture_output=True, text=True,
                              timeout=PATIENCE)
        if done.returncode == 0 or "lock" not in done.stderr:
            return done
        time.sleep(1)
    return done


def check_installed(version):
    check(package_state() == "installed", f"after dpkg -i the package is {package_state()}")
    done = subprocess.run([PROGRAM, "--version"], capture_output=True, text=True, timeout=PATIENCE)
    check(done.returncode == 0 and done.stdout == f"vorlane-relay {version}\n",
          f"--version: exit {done.returncode}, {done.stdout!r} {done.stderr!r}")
    conffiles = subprocess.run(["dpkg-query", "-W", "-f=${Conffiles}", PACKAGE],
                               capture_output=True, text=True).stdout
    check(EXAMPLE in conffiles, f"{EXAMPLE} is no conffile: {conffiles!r}")
    check(os.path.isfile(UNIT), f"{UNIT} is missing")
    manual = subprocess.run(["man", "-w", "1", PACKAGE], capture_output=True, text=True)
    check(manual.stdout.strip() == "/usr/share/man/man1/vorlane-relay.1.gz",
          f"man -w finds {manual.stdout!r} {manual.stderr!r}")


def check_hardened():
    """What Debian's hardening flags leave in the program, as readelf shows it."""
    def readelf(*arguments):
        return subprocess.run(["readelf", "--wide", *arguments, PROGRAM], capture_output=True,
                              text=True, check=True).stdout
    header = readelf("--file-header")
    check(re.search(r"Type:\s+DYN", header), "the program is not position independent (PIE)")
    dynamic = readelf("--dynamic")
    check(re.search(r"\(FLAGS\)\s.*BIND_NOW", dynamic) or
          re.search(r"\(FLAGS_1\)\s.*\bNOW\b", dynamic), "the program is not linked with -z now")
    check(re.search(r"\(FLAGS_1\)\s.*\bPIE\b", dynamic), "the program is not marked PIE")
    symbols = set(re.findall(r"\sUND\s+(\w+)", readelf("--dyn-syms")))  # imported
    check("__stack_chk_fail" in symbols, "the program has no stack protector (__stack_chk_fail)")
    fortified = sorted(s for s in symbols if re.fullmatch(r"__\w+_chk", s))
    check(fortified, "the program calls no fortified function (*_chk): no _FORTIFY_SOURCE")
    for script in ("postinst", "prerm", "postrm"):
        path = f"/var/lib/dpkg/info/{PACKAGE}.{script}"
        check(os.access(path, os.X_OK), f"the package has no {script}")


def echoed(port):
    """The payload sent through the relay and read back; None while nothing listens."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as client:
            client.sendall(PAYLOAD)
            client.shutdown(socket.SHUT_WR)
            client.settimeout(PATIENCE)
            reply = b""
            while data := client.recv(4096):
                reply += data
            return reply
    except ConnectionRefusedError:
        return None


def check_relays():
    echo = EchoServer()
    port = free_port()
    relay = subprocess.Popen([PROGRAM, "--config", EXAMPLE, "--listen", str(port),
                              "--target", "127.0.0.1", "--target-port", str(echo.port)],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + PATIENCE
        while (reply := echoed(port)) is None:
            if relay.poll() is not None:
                raise Failure(f"the relay ended with {relay.returncode}: {relay.stderr.read()}")
            check(time.monotonic() < deadline, f"nothing listens on port {port}")
            time.sleep(0.1)
        check(reply == PAYLOAD, f"the relay sent back {reply!r}")
        relay.send_signal(signal.SIGTERM)
        check(relay.wait(timeout=PATIENCE) == 0, f"the relay exited {relay.returncode} on SIGTERM")
    finally:
        if relay.poll() is None:
            relay.kill()
            relay.wait(timeout=PATIENCE)
        relay.stderr.close()
        echo.close()


def check_removed():
    done = dpkg("-r", PACKAGE)
    check(done.returncode == 0, f"dpkg -r failed: {done.stderr}")
    check(not os.path.exists(PROGRAM), f"{PROGRAM} is still there after dpkg -r")
    check(os.path.exists(EXAMPLE), f"dpkg -r took the conffile {EXAMPLE} too")
    done = dpkg("-P", PACKAGE)
    check(done.returncode == 0, f"dpkg -P failed: {done.stderr}")
    check(package_state() == "not-installed", f"after dpkg -P the package is {package_state()}")
    check(not os.path.exists(EXAMPLE), f"{EXAMPLE} is still there after dpkg -P")


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    deb, version = sys.argv[1:]
    if os.geteuid() != 0:
        print("skipped: installing a package needs root")
        return SKIPPED
    if package_state() != "not-installed":
        print(f"skipped: {PACKAGE} is on this machine already ({package_state()}); "
              f"the test leaves it alone (dpkg -P {PACKAGE} lets it run)")
        return SKIPPED
    # A stop, or a run that hangs, still takes the package away: ctest's own
    # time-out would kill this script before its cleanup.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    signal.signal(signal.SIGALRM, give_up)
    signal.alarm(DEADLINE)
    try:
        done = dpkg("-i", deb)
        check(done.returncode == 0, f"dpkg -i failed: {done.stdout}{done.stderr}")
        check_installed(version)
        check_hardened()
        check_relays()
        check_removed()
    except (Failure, subprocess.TimeoutExpired) as error:
        print("FAILED:", error)
        return 1
    finally:
        if package_state() != "not-installed":
            dpkg("-P", PACKAGE)
    print(f"{os.path.basename(deb)}: installed, relayed on 127.0.0.1, removed and purged")
    return 0


if __name__ == "__main__":
    sys.exit(main())
