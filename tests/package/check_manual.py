#!/usr/bin/env python3
"""The manual page and the example configuration against the program: man
renders the page without a warning, OPTIONS describes every option that
`vorlane-relay --help` lists, with the same range where --help gives one
("0 to 60"), and CONFIGURATION describes exactly the keys of example.ini.

Usage: check_manual.py RELAY MANUAL_PAGE EXAMPLE_INI"""
import os
import re
import subprocess
import sys


def section(roff, name):
    """The lines of one .SH section of a roff page."""
    match = re.search(rf"^\.SH {name}\n(.*?)(?=^\.SH )", roff, re.S | re.M)
    return match.group(1) if match else ""


def rendering_problems(page):
    done = subprocess.run(["man", "--warnings", "-l", "-Tutf8", "-Z", page],
                          capture_output=True, text=True,
                          env={**os.environ, "LC_ALL": "C.UTF-8", "MANWIDTH": "80"})
    return [] if done.returncode == 0 and not done.stderr else [f"man -l: {done.stderr.strip()}"]


def undocumented_options(relay, roff):
    help_text = subprocess.run([relay, "--help"], capture_output=True, text=True,
                               timeout=30).stdout
    options = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", help_text))
    if not options:
        return [f"{relay} --help lists no options"]
    tags = section(roff, "OPTIONS").replace("\\-", "-")
    problems = [f"OPTIONS lacks {option}" for option in sorted(options)
                if not re.search(rf"^\.B[IR]? .*{option}(?![\w-])", tags, re.M)]
    # A bound changed in the program and not on the page (the drain time-out's, say).
    for option, low, high in re.findall(r"^\s+(--[a-z-]+)\b.*?\b(\d+) to (\d+)\b", help_text,
                                        re.M):
        entry = re.search(rf"^\.B[IR]? .*{option}(?![\w-]).*?(?=^\.TP|\Z)", tags, re.M | re.S)
        if entry and f"{low}\\(en{high}" not in entry.group(0):
            problems.append(f"OPTIONS gives {option} no range {low}\\(en{high} as --help does")
    return problems


def mismatched_keys(roff, example):
    example_keys = set(re.findall(r"^;?(\w+)=", example, re.M))
    manual_keys = set(re.findall(r"^\.BR (\w+)=", section(roff, "CONFIGURATION"), re.M))
    manual_keys |= set(re.findall(r'^\.BR \w+= "0, " (\w+)=', section(roff, "CONFIGURATION"),
                                  re.M))
    return ([f"CONFIGURATION lacks {key}" for key in sorted(example_keys - manual_keys)] +
            [f"example.ini lacks {key}" for key in sorted(manual_keys - example_keys)])


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    relay, page, example_path = sys.argv[1:]
    with open(page) as file:
        roff = file.read()
    with open(example_path) as file:
        example = file.read()
    problems = (rendering_problems(page) + undocumented_options(relay, roff) +
                mismatched_keys(roff, example))
    for problem in problems:
        print("FAILED:", problem)
    if problems:
        return 1
    print("the manual page renders and matches --help and example.ini")
    return 0


if __name__ == "__main__":
    sys.exit(main())
