"""A scripted debug front end for tests: it listens where scriptcgi-debug connects, speaks the
link's framing (length headers and acknowledgements) and starts the program on a request."""
import os
import shutil
import socket
import subprocess
import tempfile
import time


def plain(t):
    if isinstance(t, str):
        t = t.encode()
    n = str(len(t)).encode()
    return bytes([ord("0") + len(n)]) + n + t


def num(n):
    d = str(n).encode()
    return bytes([ord("0") + len(d)]) + d


def request(modules, call, extra=b""):
    names = b"".join(plain(m) for m in modules)
    return b"M" + num(len(modules)) + plain(names) + extra + b"P" + plain(call)


def header(n):
    d = str(n)
    return (chr(ord("A") + len(d)) + d).encode()


class LinkClosed(Exception):
    pass


class FrontEnd:
    """One listening socket on loopback; accept() takes the program's connection."""

    def __init__(self):
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port = self.server.getsockname()[1]
        self.conn = None

    def accept(self, timeout=10):
        self.server.settimeout(timeout)
        self.conn, _ = self.server.accept()
        self.conn.settimeout(timeout)
        return self.conn

    def close(self):
        for s in (self.conn, self.server):
            if s:
                try:
                    s.close()
                except OSError:
                    pass

    def _read(self, n):
        out = b""
        while len(out) < n:
            chunk = self.conn.recv(n - len(out))
            if not chunk:
                raise LinkClosed()
            out += chunk
        return out

    def read_number(self):
        h = self._read(1)
        digits = h[0] - ord("A")
        return int(self._read(digits)) if digits else 0

    def recv(self, ack=True, timeout=15):
        """The next message from the program, acknowledged unless told otherwise."""
        self.conn.settimeout(timeout)
        n = self.read_number()
        payload = self._read(n)
        if ack:
            self.conn.sendall(header(n))
        return payload

    def send(self, payload, timeout=15):
        """Sends a message and returns the program's acknowledgement."""
        if isinstance(payload, str):
            payload = payload.encode()
        self.conn.settimeout(timeout)
        self.conn.sendall(header(len(payload)) + payload)
        return self.read_number()

    def send_raw(self, data):
        self.conn.sendall(data)

    def expect(self, payload, timeout=15):
        got = self.recv(timeout=timeout)
        if isinstance(payload, str):
            payload = payload.encode()
        if got != payload:
            raise AssertionError("expected %r, got %r" % (payload, got))
        return got

    def serve_module(self, source, tables=b"&&&&", name=None):
        """Answers one module request ("M" + name) with source text and tables."""
        m = self.recv()
        if not m.startswith(b"M"):
            raise AssertionError("expected a module request, got %r" % m)
        if name is not None and m[1:] != name.encode():
            raise AssertionError("asked for %r" % m)
        if isinstance(source, str):
            source = source.encode()
        self.send(b"&&&&" if source == b"&&&&" else b"s" + source)
        self.send(tables)
        return m[1:].decode()

    def stop(self):
        """Reads one stop (call stack, then "B" + position); returns both as texts."""
        stack = self.recv().decode()
        where = self.recv().decode()
        if not where.startswith("B"):
            raise AssertionError("expected a stop, got %r after %r" % (where, stack))
        return stack, where[1:]


class Program:
    """scriptcgi-debug started as a web server would, on a request, in a directory of its own."""

    def __init__(self, bindir, files, port, body, extra_config="", program="scriptcgi-debug", env_extra=None):
        self.dir = tempfile.mkdtemp(prefix="dbglink-")
        for name, text in files.items():
            path = os.path.join(self.dir, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(text.encode() if isinstance(text, str) else text)
        with open(os.path.join(self.dir, "ZOLK.config"), "w") as f:
            f.write("LOGFILE=journal.log\nDEBUG_PORT=%d\n%s" % (port, extra_config))
        exe = os.path.join(self.dir, program)
        os.symlink(os.path.abspath(os.path.join(bindir, program)), exe)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TZ": "UTC", "LANG": "C",
               "REMOTE_ADDR": "127.0.0.1", "CONTENT_LENGTH": str(len(body))}
        env.update(env_extra or {})
        for k in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if k in os.environ:
                env[k] = os.environ[k]
        stdin_path = os.path.join(self.dir, "request.body")
        with open(stdin_path, "wb") as f:
            f.write(body)
        with open(stdin_path, "rb") as stdin:
            self.proc = subprocess.Popen([exe], cwd=self.dir, env=env, stdin=stdin,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.out = None
        self.err = None

    def finish(self, timeout=60):
        self.out, self.err = self.proc.communicate(timeout=timeout)
        return self.out

    def journal(self):
        try:
            with open(os.path.join(self.dir, "journal.log"), "rb") as f:
                return f.read()
        except OSError:
            return b""

    def cleanup(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in (self.proc.stdout, self.proc.stderr):
            if f:
                f.close()
        shutil.rmtree(self.dir, ignore_errors=True)


HEAD = b"Content-type: text/plane;charset=UTF-8\n\n"
