#!/usr/bin/env python3
"""Prints the 'Command by command' part of docs/loaderkit.md: the --help of every loaderkit
command, as the kit itself prints it. The kit's test suite checks that docs/loaderkit.md holds
exactly this and that the manual page names every option in it.
usage: kit_reference.py LOADERKIT"""
import subprocess
import sys

COMMANDS = ["stamp", "scramble", "site", "download", "funnel"]  # unscramble shares scramble's help


def reference(kit):
    parts = []
    for command in COMMANDS:
        text = subprocess.run([kit, command, "--help"], capture_output=True, text=True, check=True).stdout
        parts.append("### loaderkit %s\n\n```\n%s```\n" % (command, text))
    return "\n".join(parts)


if __name__ == "__main__":
    print(reference(sys.argv[1]), end="")
