"""Waiting for a line in the log file of a program a Python test started."""
import re
import time

PATIENCE = 60  # seconds; a Wine start alone takes a few


class Failure(Exception):
    pass


def read(path):
    with open(path, encoding="latin-1") as file:
        return file.read()


def wait_for(pattern, path, process, patience=PATIENCE):
    """The first match of the pattern in the file, while the process runs."""
    deadline = time.monotonic() + patience
    while time.monotonic() < deadline:
        if match := re.search(pattern, read(path), re.M):
            return match
        if process.poll() is not None:
            break
        time.sleep(0.1)
    raise Failure(f"no line matching {pattern!r}:\n{read(path)}")
