#!/usr/bin/env python3
"""Fails when a program file includes a header from a folder above its own.

The program's folders are layers: app on top, then settings and watch (side
by side, neither using the other), then explorer, then state, then base. A
file may include headers of its own folder and of the layers below it.
"""
import pathlib
import re
import sys

RANK = {"base": 0, "state": 1, "explorer": 2, "watch": 3, "settings": 3, "app": 4}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"', re.MULTILINE)


def violations(root):
    for folder, rank in RANK.items():
        for path in sorted((root / folder).glob("*")):
            if path.suffix not in (".h", ".cpp", ".rc"):
                continue
            for used in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if used in RANK and used != folder and RANK[used] >= rank:
                    yield f"{path.relative_to(root)} includes from {used}/"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    found = list(violations(root))
    for line in found:
        print(line)
    print(f"{len(found)} upward includes")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
