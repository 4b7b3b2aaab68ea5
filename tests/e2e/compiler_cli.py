#!/usr/bin/env python3
"""scriptcgi-compile as a site's build meets it: output names, determinism, a module that does
not parse (the engine's message, exit status 1, no image left, an old one removed), usage."""
import argparse
import os
import subprocess
import sys
import tempfile


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--bin", required=True)
    opts = ap.parse_args()
    compiler = os.path.join(os.path.abspath(opts.bin), "scriptcgi-compile")
    failures = []

    def check(what, ok):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory() as d:
        os.makedirs(os.path.join(d, "lib"))
        with open(os.path.join(d, "lib", "m.js"), "w") as f:
            f.write("var a = {k: [1, 2]};\nfunction f(x) { return x + a.k.length; }\n")
        with open(os.path.join(d, "bad.js"), "w") as f:
            f.write("var a = 1;\nvar b = (2 + ;\n")

        def run(*args):
            return subprocess.run([compiler, *args], cwd=d, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

        r = run("lib/m.js")
        check("the default output is the source path with .jo",
              r.returncode == 0 and os.path.isfile(os.path.join(d, "lib", "m.jo")) and not r.stdout)
        r = run("lib/m.js", "-o", "copy.jo")
        with open(os.path.join(d, "lib", "m.jo"), "rb") as f1, open(os.path.join(d, "copy.jo"), "rb") as f2:
            check("-o names the output; the same source gives the same bytes", r.returncode == 0 and f1.read() == f2.read())
        leftovers = [n for n in os.listdir(d) if ".tmp" in n]
        check("no temporary file stays", not leftovers)

        with open(os.path.join(d, "bad.jo"), "wb") as f:
            f.write(b"an image of an older version")
        r = run("bad.js")
        expected = "PARSE ERROR 1130 (bad.js:2) : "
        check("a parse error is the engine's message on standard error with status 1",
              r.returncode == 1 and r.stderr.decode().startswith(expected) and not r.stdout)
        check("no image is left after a parse error, not even an older one", not os.path.exists(os.path.join(d, "bad.jo")))
        r = run("missing.js", "-o", "missing.jo")
        check("a missing source is 1165", r.returncode == 1 and b"1165" in r.stderr and not os.path.exists(os.path.join(d, "missing.jo")))
        r = run("lib/m.js", "-o", "no/such/dir/x.jo")
        check("an output that cannot be written is status 1", r.returncode == 1)
        r = run()
        check("no source is the usage line with status 2", r.returncode == 2 and b"usage" in r.stderr)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
