#!/usr/bin/env python3
"""The request token across requests: a token handed out by one response is accepted by the next
request; a forged digest, another client address and an expired time are refused with 1775 and
the "NG" token record. The front end's side of the scheme is written here on its own."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

DIGEST = "jklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghi000"


class Rand:
    def __init__(self, seed):
        self.x = seed & 0xFFFFFFFF

    def next(self):
        self.x = (self.x * 214013 + 2531011) & 0xFFFFFFFF
        return (self.x >> 16) & 0x7FFF


def letters(rng, n):
    return "".join(DIGEST[int(rng.next() / 32767.0 * 61.0)] for _ in range(n))


def token_digest(token, t, ip):
    a, b, c, d = ip
    t &= 0xFFFF
    if not token:
        return "%05d" % t
    out, acc = "", 0
    for i, ch in enumerate(token, 1):
        if "A" <= ch <= "Z": v = ord(ch) - 65
        elif "a" <= ch <= "z": v = ord(ch) - 97 + 26
        elif "0" <= ch <= "9": v = ord(ch) - 48 + 52
        elif ch == "-": v = 62
        elif ch == "_": v = 63
        else: continue
        acc = ((acc << 6) | v) & 0xFFFFFFFF
        if i % 4 == 0:
            out += letters(Rand((t << 24) | acc), 6)
            acc = 0
    if acc:
        out += letters(Rand((t << 24) | acc), 2 * (len(token) % 4))
    out += letters(Rand((t << 16) | (a << 8) | b), 8)
    out += letters(Rand((t << 16) | (c << 8) | d), 8)
    return out + "%05d" % t


def field(text):
    data = text.encode()
    n = str(len(data))
    return chr(ord("0") + len(n)) + n + text


def read_fields(data, count):
    out, i = [], 0
    for _ in range(count):
        k = data[i] - ord("0") if data[i] < ord("A") else data[i] - ord("A")
        n = int(data[i + 1:i + 1 + k])
        out.append(data[i + 1 + k:i + 1 + k + n].decode())
        i += 1 + k + n
    return out


def main():
    bindir = sys.argv[sys.argv.index("--bin") + 1]
    work = tempfile.mkdtemp(prefix="scriptcgi-token-")
    failures = 0
    passed = 0
    try:
        os.symlink(os.path.join(os.path.abspath(bindir), "scriptcgi"), os.path.join(work, "scriptcgi"))
        with open(os.path.join(work, "ZOLK.config"), "w") as f:
            f.write("TOKEN_KEY=key1\nTIME_INTERVAL=60\n")
        with open(os.path.join(work, "m.js"), "w") as f:
            f.write("function f() { return 1; }\n")

        def request(q=None, addr="10.1.2.3"):
            body = "M11206" + "14m.js" + "P13f()"
            if q is not None:
                body += "Q" + field(q[0]) + field(q[1])
            env = {"PATH": os.environ.get("PATH", ""), "CONTENT_LENGTH": str(len(body.encode())),
                   "REMOTE_ADDR": addr, "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "detect_leaks=0")}
            r = subprocess.run([os.path.join(work, "scriptcgi")], input=body.encode(), cwd=work, env=env,
                               capture_output=True, timeout=60)
            return r.stdout.split(b"\n\n", 1)[1]

        def check(name, ok, detail):
            nonlocal failures, passed
            print(("ok   " if ok else "FAIL ") + name)
            if not ok:
                print("     " + repr(detail))
                failures += 1
            else:
                passed += 1

        first = request(q=("", ""))
        check("a request without a token is refused", first.startswith(b"S141775") and first.endswith(b"X12NG12NG"), first)

        # A fresh token: only the response of an authenticated request hands one out, so make one
        # as the front end's previous response would have, with the current time.
        now = int(time.time())
        tok = "key1ABCDEFGH%x" % now
        dig = token_digest(tok, now, (10, 1, 2, 3))
        ok = request(q=(tok, dig))
        check("a valid token is accepted", ok.startswith(b"C10101010X"), ok)
        new_token, new_digest = read_fields(ok[len(b"C10101010X"):], 2)
        check("the handed-out token carries the key and the time",
              re.fullmatch(r"key1[A-Za-z0-9]{8}[0-9a-f]+", new_token) is not None and
              abs(int(new_token[12:], 16) - now) < 5, new_token)
        check("the handed-out digest is the token's digest",
              new_digest == token_digest(new_token, int(new_token[12:], 16), (10, 1, 2, 3)), new_digest)
        again = request(q=(new_token, new_digest))
        check("the handed-out token is accepted by the next request", again.startswith(b"C10101010X"), again)

        forged_digest = ("y" if new_digest[0] == "x" else "x") + new_digest[1:]
        forged = request(q=(new_token, forged_digest))
        check("a forged digest is refused", forged.startswith(b"S141775") and b"%E8%AA%8D%E8%A8%BC" in forged
              and forged.endswith(b"X12NG12NG"), forged)
        other = request(q=(new_token, new_digest), addr="10.1.2.4")
        check("another client address is refused", other.startswith(b"S141775") and other.endswith(b"X12NG12NG"), other)
        old = now - 61
        old_tok = "key1ABCDEFGH%x" % old
        expired = request(q=(old_tok, token_digest(old_tok, old, (10, 1, 2, 3))))
        # タイムアウト, percent-encoded
        check("a token 61 seconds old times out", expired.startswith(b"S141775") and
              b"%E3%82%BF%E3%82%A4%E3%83%A0%E3%82%A2%E3%82%A6%E3%83%88" in expired and
              expired.endswith(b"X12NG12NG"), expired)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{passed} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
