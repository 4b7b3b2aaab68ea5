#!/usr/bin/env python3
"""Checks the include graph of the engine's folders: errors/ rests on platform/ only; store/,
frontend/ and eval/ include nothing from driver/; and no circle of folder includes runs through
driver/. Prints the offending includes and exits 1 when a rule is broken."""
import os, re, sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
ENGINE = ["platform", "errors", "response", "store", "frontend", "eval", "builtins", "regexp", "db",
          "debuglink", "driver"]
ALLOWED_ONLY = {"platform": {"platform"}, "errors": {"errors", "platform"}}
NEVER = {d: {"driver"} for d in ("store", "frontend", "eval", "errors", "platform", "response")}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^/"]+)/[^"]+"', re.M)


def includes():
    """(folder, file, included folder) for every quoted include of a folder's sources."""
    for d in ENGINE:
        path = os.path.join(ROOT, d)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(path, name), encoding="utf-8", errors="replace") as f:
                for target in INCLUDE.findall(f.read()):
                    if target in ENGINE and target != d:
                        yield d, f"{d}/{name}", target


def main():
    faults = []
    graph = {d: set() for d in ENGINE}
    for d, where, target in includes():
        graph[d].add(target)
        if d in ALLOWED_ONLY and target not in ALLOWED_ONLY[d]:
            faults.append(f"{where} includes {target}/ (only {', '.join(sorted(ALLOWED_ONLY[d]))}/ allowed)")
        if target in NEVER.get(d, ()):
            faults.append(f"{where} includes {target}/")
    # A folder that driver/ reaches must not reach driver/ again.
    def reaches(start, goal):
        seen, todo = set(), [start]
        while todo:
            d = todo.pop()
            for n in graph[d]:
                if n == goal:
                    return True
                if n not in seen:
                    seen.add(n)
                    todo.append(n)
        return False
    for d in sorted(graph["driver"]):
        if reaches(d, "driver"):
            faults.append(f"circle: driver/ -> {d}/ -> ... -> driver/")
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
