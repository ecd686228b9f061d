#!/usr/bin/env python3
"""The release zip of a Windows build as a user gets it: CPack packs it into a
fresh folder, it holds exactly the two stripped programs of the build's
processor with their version resources, the libgcrypt and libgpg-error DLLs
they load with the LGPL, the libraries' copyright files and a notice, every
text file in CR LF; every program and DLL in it imports nothing but the
system's DLLs and the DLLs beside it. Unpacked, vorlane-relay.exe prints the
version and Vorlane.exe opens its window from its Setting.ini (a copy with
free ports and AutoStart) and relays.

Usage: check_release_zip.py CPACK CPACK_CONFIG VERSION ARCH WINE_RUN STATE_DIR PROBE_EXE
PROBE_EXE reads the window's status line and posts commands to it from the
same Wine prefix."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import zipfile

from pe_file import RT_VERSION, PeFile, VersionInfo

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback import EchoServer, free_port  # noqa: E402

PROGRAMS = ("Vorlane.exe", "vorlane-relay.exe")
# The LGPL libraries, loaded from beside the programs so a user can swap them.
LIBRARIES = ("libgcrypt-20.dll", "libgpg-error-0.dll")
LICENCES = ("licences/LGPL-2.1.txt", "licences/libgcrypt.txt", "licences/libgpg-error.txt")
TEXTS = ("README.txt", "Setting.ini", "NOTICE.txt") + LICENCES
# What every Windows has; a MinGW runtime DLL (libwinpthread, libgcc,
# libstdc++) is none of them and would stop the programs on a clean machine.
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
               "mswsock.dll", "shell32.dll", "user32.dll", "ws2_32.dll"}
EXIT_COMMAND = 32775
PATIENCE = 60


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def pack(cpack, config, folder):
    """Runs CPack into `folder`; the one zip it wrote."""
    done = subprocess.run([cpack, "--config", config, "-B", folder],
                          capture_output=True, text=True, timeout=PATIENCE)
    check(done.returncode == 0, f"cpack failed:\n{done.stdout}{done.stderr}")
    zips = [name for name in os.listdir(folder) if name.endswith(".zip")]
    check(len(zips) == 1, f"cpack wrote {zips}")
    return os.path.join(folder, zips[0])


def check_contents(path, version, arch):
    top = f"vorlane-{version}-{arch}"
    check(os.path.basename(path) == top + ".zip", f"the zip is named {os.path.basename(path)}")
    with zipfile.ZipFile(path) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
    expected = sorted(f"{top}/{name}" for name in PROGRAMS + LIBRARIES + TEXTS)
    check(names == expected, f"the zip holds {names}, not {expected}")
    return top


def check_texts(folder):
    for name in TEXTS:
        with open(os.path.join(folder, name), "rb") as file:
            text = file.read()
        check(text.count(b"\n") > 0 and text.count(b"\n") == text.count(b"\r\n"),
              f"{name} does not end every line in CR LF")


def check_imports(folder, arch):
    """Each program loads libgcrypt from beside it, and nothing in the folder
    needs a DLL that is neither a system DLL nor shipped."""
    shipped = {name.lower() for name in LIBRARIES}
    for name in PROGRAMS + LIBRARIES:
        image = PeFile(os.path.join(folder, name))
        check(image.arch == arch, f"{name} is built for {image.arch}, not {arch}")
        imports = {dll.lower() for dll in image.imports()}
        missing = sorted(imports - SYSTEM_DLLS - shipped)
        check(not missing, f"{name} imports {missing}, which the zip does not hold")
        if name in PROGRAMS:
            check("libgcrypt-20.dll" in imports, f"{name} does not load libgcrypt-20.dll: "
                  f"{sorted(imports)}")


def check_notices(folder):
    with open(os.path.join(folder, "licences", "LGPL-2.1.txt")) as file:
        check("GNU LESSER GENERAL PUBLIC LICENSE" in file.read(),
              "licences/LGPL-2.1.txt is not the LGPL")
    with open(os.path.join(folder, "NOTICE.txt")) as file:
        notice = file.read()
    for needed in LIBRARIES + ("LGPL-2.1-or-later", "apt-get source libgcrypt20=",
                               "apt-get source libgpg-error=") + LICENCES:
        check(needed in notice, f"NOTICE.txt does not name {needed}")


def check_programs(folder, version, arch):
    numbers = tuple(int(part) for part in version.split(".")) + (0,)
    for name in PROGRAMS:
        program = PeFile(os.path.join(folder, name))
        check(program.arch == arch, f"{name} is built for {program.arch}, not {arch}")
        check(program.symbol_count == 0, f"{name} keeps {program.symbol_count} symbols")
        blob = program.resource(RT_VERSION)
        check(blob is not None, f"{name} has no version resource")
        info = VersionInfo(blob)
        check(info.file_version == numbers and info.product_version == numbers,
              f"{name}: version numbers {info.file_version}, {info.product_version}")
        strings = info.strings
        check(strings.get("ProductName") == "Vorlane", f"{name}: {strings}")
        check(strings.get("FileVersion") == version == strings.get("ProductVersion"),
              f"{name}: {strings}")
        check(strings.get("OriginalFilename") == name, f"{name}: {strings}")
        check(strings.get("FileDescription", "").startswith("Vorlane "), f"{name}: {strings}")
        check((0x409, 1200) in info.translations, f"{name}: translations {info.translations}")


def check_version_option(wine_run, state, folder, version):
    for option in ("--version", "-V"):
        done = subprocess.run([wine_run, state, os.path.join(folder, "vorlane-relay.exe"), option],
                              capture_output=True, text=True, timeout=PATIENCE)
        check(done.returncode == 0 and done.stdout.strip() == f"vorlane-relay {version}",
              f"{option}: exit {done.returncode}, {done.stdout!r} {done.stderr!r}")


def with_ports_and_autostart(settings, port, target_port):
    """The example file with three values changed, its other bytes kept."""
    for key, value in (("LocalListenPort", port), ("DestPort", target_port), ("AutoStart", 1)):
        settings, count = re.subn(rf"(?m)^{key}=[^\r\n]*", f"{key}={value}", settings)
        check(count == 1, f"the example Setting.ini has {count} {key} lines")
    return settings


def relays(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as client:
            client.sendall(b"from the zip")
            client.settimeout(5)
            reply = b""
            while len(reply) < 12 and (data := client.recv(64)):
                reply += data
            return reply == b"from the zip"
    except OSError:
        return False


def ask_probe(wine_run, state, probe, command):
    done = subprocess.run([wine_run, state, probe], input=f"{command}\nquit\n",
                          capture_output=True, text=True, timeout=PATIENCE)
    return done.stdout.splitlines()[0].strip() if done.stdout else ""


def check_window(wine_run, state, probe, unpacked, work):
    folder = os.path.join(work, "window")
    shutil.copytree(unpacked, folder)
    settings_path = os.path.join(folder, "Setting.ini")
    with open(settings_path, newline="") as file:
        settings = file.read()
    echo = EchoServer()
    port = free_port()
    with open(settings_path, "w", newline="") as file:
        file.write(with_ports_and_autostart(settings, port, echo.port))
    window = subprocess.Popen([wine_run, state, os.path.join(folder, "Vorlane.exe")], cwd=folder,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + PATIENCE
        while not relays(port):
            check(window.poll() is None, f"Vorlane.exe ended with {window.returncode}")
            check(time.monotonic() < deadline, f"nothing relayed on port {port}")
            time.sleep(0.2)
        status = ask_probe(wine_run, state, probe, "status")
        check(status == f"status Listening on port {port}...", f"the window shows {status!r}")
        check(ask_probe(wine_run, state, probe, f"post {EXIT_COMMAND}") == "ok",
              "the window took no Exit command")
        window.wait(timeout=PATIENCE)
    finally:
        if window.poll() is None:
            window.kill()
            window.wait(timeout=30)
        echo.close()


def main():
    if len(sys.argv) != 8:
        print(__doc__, file=sys.stderr)
        return 2
    cpack, config, version, arch, wine_run, state, probe = sys.argv[1:]
    work = tempfile.mkdtemp(prefix="vorlane-release-")
    try:
        zip_path = pack(cpack, config, os.path.join(work, "packed"))
        top = check_contents(zip_path, version, arch)
        with zipfile.ZipFile(zip_path) as archive:
            archive.extractall(os.path.join(work, "unpacked"))
        unpacked = os.path.join(work, "unpacked", top)
        check_texts(unpacked)
        check_imports(unpacked, arch)
        check_notices(unpacked)
        check_programs(unpacked, version, arch)
        check_version_option(wine_run, state, unpacked, version)
        check_window(wine_run, state, probe, unpacked, work)
    except (Failure, subprocess.TimeoutExpired) as error:
        print("FAILED:", error)
        print("0 passed, 1 failed")
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{os.path.basename(zip_path)}: contents, versions and both programs under Wine")
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
