#!/usr/bin/env python3
"""Checks the static layout of a built engine: every zero-initialised object of a page or more
lies below small_statics_begin, among the arrays marked LARGE_STATIC (platform/layout.h), and not
among the small variables that every request touches. Prints the offenders and exits 1."""
import subprocess, sys

PAGE = 4096


def objects(binary):
    """(address, size, type, name) of the binary's defined data symbols that have a size."""
    out = subprocess.run(["nm", "-S", "-C", "--defined-only", binary], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        parts = line.split(None, 3)
        if len(parts) == 4 and all(c in "0123456789abcdef" for c in parts[1]):
            yield int(parts[0], 16), int(parts[1], 16), parts[2], parts[3]


def main():
    binary = sys.argv[1]
    found = list(objects(binary))
    marks = [a for a, _, _, name in found if name == "small_statics_begin"]
    if not marks:
        print(f"{binary}: small_statics_begin is missing")
        return 1
    begin = marks[0]
    faults = [f"{name}: {size} bytes at {addr:#x}, among the small variables (mark it LARGE_STATIC)"
              for addr, size, kind, name in found if kind in "bB" and size >= PAGE and addr > begin]
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
