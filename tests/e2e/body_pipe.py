#!/usr/bin/env python3
"""A large request body delivered as a web server's pipe delivers it: 10 MB in 4 KB writes
through a pipe of one page, so that the engine's reads each bring at most 4 KB (thousands of
them). The body must be taken whole: the script sees the whole parameter and the response
completes, and a body that ends early is taken as it arrived."""
import argparse
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import threading

F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def plain(text: bytes) -> bytes:
    n = str(len(text)).encode()
    return str(len(n)).encode() + n + text


def request(param: bytes) -> bytes:
    return (b"M11" + plain(plain(b"m.js")) + b"P" + plain(b"f()") +
            b"S11" + plain(plain(b"s") + plain(param)))


def run(program, directory, body: bytes, content_length: int):
    read_end, write_end = os.pipe()
    try:
        fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
    except OSError:
        pass  # a kernel without the call still delivers in pipe-sized pieces
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TZ": "UTC", "LANG": "C",
           "CONTENT_LENGTH": str(content_length)}
    for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
        if key in os.environ:
            env[key] = os.environ[key]
    proc = subprocess.Popen([program], stdin=read_end, stdout=subprocess.PIPE, cwd=directory, env=env)
    os.close(read_end)

    def feed():
        try:
            for at in range(0, len(body), 4096):
                os.write(write_end, body[at:at + 4096])
        except BrokenPipeError:
            pass
        finally:
            os.close(write_end)

    writer = threading.Thread(target=feed)
    writer.start()
    out, _ = proc.communicate(timeout=120)
    writer.join()
    with open(os.path.join(directory, "journal.log"), "rb") as f:
        journal = f.read()
    os.remove(os.path.join(directory, "journal.log"))
    return proc.returncode, out, journal


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    args = ap.parse_args()
    directory = tempfile.mkdtemp(prefix="scriptcgi-body-")
    failures = 0
    try:
        with open(os.path.join(directory, "ZOLK.config"), "w") as f:
            f.write("LOGFILE=journal.log\n")
        with open(os.path.join(directory, "m.js"), "w") as f:
            f.write('function f() { console.log(s.length, " ", s.substring(s.length - 3)); }\n')
        program = os.path.join(directory, "scriptcgi")
        os.symlink(os.path.join(os.path.abspath(args.bin), "scriptcgi"), program)
        header = b"Content-type: text/plane;charset=UTF-8\n\n"

        # Parameters live in the load-phase store (4 MB in all), so the body is a 3 MB parameter
        # and line feeds (an ignored command) up to 10 MB.
        param = b"x" * (3 * 1024 * 1024 - 3) + b"end"
        body = request(param)
        body += b"\n" * (10 * 1024 * 1024 - len(body))
        cases = [
            ("10 MB in 4 KB pieces", body, len(body),
             header + b"C10101010", b'(L) %d" ""end"' % len(param)),
            # The input ends early, inside the S block: the body is what arrived, and the block
            # runs past its end (1545).
            ("an input that ends early", body[:2 * 1024 * 1024], len(body), header + b"S141545", None),
        ]
        for name, data, length, want_out, want_journal in cases:
            status, out, journal = run(program, directory, data, length)
            # The completion record is compared whole, an error record by its code.
            ok = status == 0 and (out == want_out if want_journal else out.startswith(want_out))
            if want_journal is not None and want_journal not in journal:
                ok = False
            print(("ok   " if ok else "FAIL ") + name)
            if not ok:
                failures += 1
                print("  status %d, output %r, journal %r" % (status, out[:200], journal[:300]))
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    print("%d passed, %d failed" % (len(cases) - failures, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
