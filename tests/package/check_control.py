#!/usr/bin/env python3
"""What the relay's package says of the libraries it links: Depends names the
package of every shared library the program needs (dpkg-shlibdeps at work),
libgcrypt's among them, and the copyright file names libgcrypt as linked with
its licence, the LGPL 2.1 that Debian keeps in common-licenses.

Usage: check_control.py DEB"""
import os
import re
import subprocess
import sys
import tempfile

PROGRAM = "usr/bin/vorlane-relay"
COPYRIGHT = "usr/share/doc/vorlane-relay/copyright"


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def depended_packages(deb):
    """Package names in Depends, alternatives and version bounds left out."""
    depends = run("dpkg-deb", "--field", deb, "Depends")
    return {re.match(r"\s*([\w.+-]+)", part).group(1) for part in re.split(r"[,|]", depends)}


def needed_packages(program):
    """The installed package that holds each shared library the program needs."""
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                        run("readelf", "--dynamic", program))
    packages = {}
    for library in needed:
        owners = subprocess.run(["dpkg", "-S", f"*/{library}"], capture_output=True,
                                text=True).stdout
        names = {line.split(":")[0] for line in owners.splitlines() if line}
        packages[library] = names
    return packages


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    deb = sys.argv[1]
    problems = []
    depends = depended_packages(deb)
    if "libgcrypt20" not in depends:
        problems.append(f"Depends does not name libgcrypt20: {sorted(depends)}")
    with tempfile.TemporaryDirectory() as root:
        run("dpkg-deb", "-x", deb, root)
        for library, owners in needed_packages(os.path.join(root, PROGRAM)).items():
            if not owners & depends:
                problems.append(f"the program needs {library} (from {sorted(owners)}), "
                                f"which Depends does not name")
        with open(os.path.join(root, COPYRIGHT)) as file:
            copyright_text = file.read()
    for needed in ("Libgcrypt", "libgcrypt20", "License: LGPL-2.1+",
                   "/usr/share/common-licenses/LGPL-2.1"):
        if needed not in copyright_text:
            problems.append(f"the copyright file does not name {needed}")
    for problem in problems:
        print("FAILED:", problem)
    if problems:
        return 1
    print(f"{os.path.basename(deb)}: Depends {sorted(depends)}; copyright names libgcrypt")
    return 0


if __name__ == "__main__":
    sys.exit(main())
