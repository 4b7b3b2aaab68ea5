"""scriptcgi-dbg as its users meet it: a command script in terminal mode, and a scripted Debug
Adapter Protocol client through a whole session, both on real requests of scriptcgi-debug; and
programs that go away at any point."""
import argparse
import base64
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from linkfe import FrontEnd, HEAD, Program, header, request

BIN = None

SRC = """function add(a, b) {
  var s = a + b;
  return s;
}
function main() {
  var k = 7;
  for (var i = 0; i < 3; i++) {
    var x = add(i, 10);
  }
  console.log(x);
}
"""


def free_port():
    fe = FrontEnd()
    port = fe.port
    fe.close()
    return port


class Tool:
    def __init__(self, args, stdin=subprocess.PIPE):
        self.proc = subprocess.Popen([os.path.join(BIN, "scriptcgi-dbg")] + args, stdin=stdin,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_listening(self, port, timeout=10):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=0.2) as s:
                    s.close()
                    return
            except OSError:
                time.sleep(0.05)
        raise AssertionError("the tool does not listen on %d" % port)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if f:
                f.close()


def run_request(folder, port, modules=("a.js",), call="main()"):
    """scriptcgi-debug on a request, its modules in folder (which the tool serves)."""
    files = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
    p = Program(BIN, files, port, request(list(modules), call))
    try:
        return p.finish(timeout=60)
    finally:
        p.cleanup()


class Terminal(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="dbgterm-")
        with open(os.path.join(self.dir, "a.js"), "w") as f:
            f.write(SRC)

    def test_a_command_script(self):
        port = free_port()
        cmds = os.path.join(self.dir, "cmds")
        with open(cmds, "w") as f:
            f.write("break a.js:8 if i == 1\ntrace a.js:1 add\nprint i\nbacktrace\nnext\n"
                    "print x\nstep\nstep\nprint a + b\nprint k in main\nprint k in 1\nprint nope in 5\n"
                    "print (((\nfinish\ndelete a.js:8\ncontinue\n")
        tool = Tool(["--port", str(port), "--root", self.dir, "-x", cmds])
        self.addCleanup(tool.kill)
        tool.wait_listening(port)
        # The probe connection of wait_listening was a run without messages: the tool goes on.
        out = run_request(self.dir, port)
        self.assertEqual(out, HEAD + b"C10101010")
        text, _ = tool.proc.communicate(timeout=30)
        lines = text.decode().splitlines()
        self.assertIn("break point at a.js:8 if i == 1", lines)
        self.assertIn("=>   8      var x = add(i, 10);", lines)
        self.assertIn("stopped at a.js:8:5 in main", lines)
        self.assertIn("#0 (top level) at MainScript:0:4", lines)
        self.assertIn("trace: call add(a=1, b=10 )", lines)
        self.assertIn("trace: return add( 11 )", lines)
        self.assertIn("stopped at a.js:2:3 in add", lines)
        self.assertIn("12", lines)   # a + b in add(2, 10)
        self.assertEqual(lines.count("7"), 2, lines)   # k in main, by name and by depth
        self.assertTrue(any(l.startswith("error: PARSE ERROR") for l in lines), lines)
        self.assertIn("(L) 12", lines)
        self.assertEqual(lines[-1], "run ended")

    def test_modules_outside_the_folder_are_not_served(self):
        port = free_port()
        # Commands stay open (a terminal with nothing typed yet).
        tool = Tool(["--port", str(port), "--root", self.dir])
        self.addCleanup(tool.kill)
        tool.wait_listening(port)
        fe_side = socket.create_connection(("127.0.0.1", port))
        self.addCleanup(fe_side.close)

        def read(n):
            data = b""
            while len(data) < n:
                chunk = fe_side.recv(n - len(data))
                self.assertTrue(chunk)
                data += chunk
            return data

        def number():
            h = read(1)
            return int(read(h[0] - 65)) if h[0] > 65 else 0

        def exchange(payload):
            fe_side.sendall(header(len(payload)) + payload)
            self.assertEqual(number(), len(payload))

        def receive():
            data = read(number())
            fe_side.sendall(header(len(data)))
            return data

        for name in (b"../a.js", b"/etc/passwd", b"x/../../a.js", b"a\\..\\..\\a.js"):
            exchange(b"M" + name)
            self.assertEqual(receive(), b"&&&&")
            self.assertEqual(receive(), b"&&&&")
        exchange(b"Ma.js")
        self.assertEqual(receive(), b"s" + SRC.encode())
        receive()
        # Only the compiled image of b is there: it is sent, Base64-encoded.
        with open(os.path.join(self.dir, "b.jo"), "wb") as f:
            f.write(bytes(range(256)))
        exchange(b"Mb.js")
        self.assertEqual(receive(), b"o" + base64.b64encode(bytes(range(256))))
        receive()


class DapClient:
    def __init__(self):
        self.tool = Tool(["--dap"])
        self.seq = 1
        self.buf = b""
        self.events = []

    def send(self, command, arguments=None):
        msg = {"seq": self.seq, "type": "request", "command": command}
        if arguments is not None:
            msg["arguments"] = arguments
        self.seq += 1
        body = json.dumps(msg).encode()
        self.tool.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.tool.proc.stdin.flush()
        return msg["seq"]

    def read(self):
        while b"\r\n\r\n" not in self.buf:
            chunk = os.read(self.tool.proc.stdout.fileno(), 65536)
            if not chunk:
                raise EOFError()
            self.buf += chunk
        head, rest = self.buf.split(b"\r\n\r\n", 1)
        n = int(head.split(b":")[1])
        while len(rest) < n:
            rest += os.read(self.tool.proc.stdout.fileno(), 65536)
        self.buf = rest[n:]
        return json.loads(rest[:n])

    def request(self, command, arguments=None):
        seq = self.send(command, arguments)
        while True:
            m = self.read()
            if m["type"] == "response" and m["request_seq"] == seq:
                return m
            self.events.append(m)

    def event(self, name):
        for i, e in enumerate(self.events):
            if e.get("event") == name:
                return self.events.pop(i)
        while True:
            m = self.read()
            if m.get("event") == name:
                return m
            self.events.append(m)


class Dap(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="dbgdap-")
        with open(os.path.join(self.dir, "a.js"), "w") as f:
            f.write(SRC)
        self.dap = DapClient()
        self.addCleanup(self.dap.tool.kill)

    def test_a_whole_session(self):
        d = self.dap
        caps = d.request("initialize", {"adapterID": "scriptcgi"})["body"]
        self.assertTrue(caps["supportsConditionalBreakpoints"] and caps["supportsLogPoints"])
        port = free_port()
        self.assertTrue(d.request("attach", {"port": port, "root": self.dir})["success"])
        d.event("initialized")
        path = os.path.join(self.dir, "a.js")
        bps = d.request("setBreakpoints", {"source": {"path": path},
                                           "breakpoints": [{"line": 8, "condition": "i == 2"},
                                                           {"line": 2, "logMessage": "adding"}]})
        self.assertEqual([b["verified"] for b in bps["body"]["breakpoints"]], [True, True])
        outside = d.request("setBreakpoints", {"source": {"path": "/etc/x.js"}, "breakpoints": [{"line": 1}]})
        self.assertFalse(outside["body"]["breakpoints"][0]["verified"])
        d.request("configurationDone")
        files = {"a.js": SRC}
        prog = Program(BIN, files, port, request(["a.js"], "main()"))
        self.addCleanup(prog.cleanup)
        stopped = d.event("stopped")["body"]
        self.assertEqual(stopped["reason"], "breakpoint")
        self.assertEqual(d.request("threads")["body"]["threads"], [{"id": 1, "name": "scriptcgi"}])
        frames = d.request("stackTrace", {"threadId": 1})["body"]["stackFrames"]
        self.assertEqual([(f["name"], f["line"]) for f in frames], [("main", 8), ("(top level)", 0 or 1)])
        self.assertEqual(frames[0]["source"]["path"], os.path.realpath(path))
        scopes = d.request("scopes", {"frameId": frames[0]["id"]})["body"]["scopes"]
        ref = scopes[0]["variablesReference"]
        variables = d.request("variables", {"variablesReference": ref})["body"]["variables"]
        self.assertEqual({v["name"]: v["value"] for v in variables}, {"k": "7", "i": "2", "x": "11"})
        ev = d.request("evaluate", {"expression": "i * 100 + k", "frameId": frames[0]["id"], "context": "hover"})
        self.assertEqual(ev["body"]["result"], "207")
        bad = d.request("evaluate", {"expression": "x y", "frameId": frames[0]["id"]})
        self.assertFalse(bad["success"])
        self.assertIn("PARSE ERROR", bad["message"])
        # The log points so far: one per call of add before the stop.
        logs = [e["body"]["output"] for e in d.events if e.get("event") == "output"]
        self.assertEqual(logs.count("adding(a=0, b=10 )\n"), 1, logs)
        d.request("next", {"threadId": 1})
        self.assertEqual(d.event("stopped")["body"]["reason"], "step")
        frames = d.request("stackTrace", {"threadId": 1})["body"]["stackFrames"]
        self.assertEqual(frames[0]["line"], 7)
        # The rest of the loop stays on line 7 (condition and update): one step leaves it.
        d.request("stepIn", {"threadId": 1})
        d.event("stopped")
        frames = d.request("stackTrace", {"threadId": 1})["body"]["stackFrames"]
        self.assertEqual((frames[0]["name"], frames[0]["line"]), ("main", 10))
        d.request("continue", {"threadId": 1})
        out = d.event("output")
        while out["body"]["category"] != "stdout":
            out = d.event("output")
        self.assertEqual(out["body"]["output"], "12\n")
        d.event("terminated")
        self.assertEqual(prog.finish(), HEAD + b"C10101010")
        d.request("disconnect")
        self.assertEqual(d.tool.proc.wait(timeout=10), 0)

    def test_step_in_and_out(self):
        d = self.dap
        d.request("initialize", {})
        port = free_port()
        d.request("attach", {"port": port, "root": self.dir})
        path = os.path.join(self.dir, "a.js")
        d.request("setBreakpoints", {"source": {"path": path}, "breakpoints": [{"line": 8}]})
        d.request("configurationDone")
        prog = Program(BIN, {"a.js": SRC}, port, request(["a.js"], "main()"))
        self.addCleanup(prog.cleanup)
        d.event("stopped")
        d.request("stepIn", {"threadId": 1})
        d.event("stopped")
        frames = d.request("stackTrace", {"threadId": 1})["body"]["stackFrames"]
        self.assertEqual([(f["name"], f["line"]) for f in frames[:2]], [("add", 2), ("main", 8)])
        names = d.request("variables", {"variablesReference": frames[0]["id"]})["body"]["variables"]
        self.assertEqual([v["name"] for v in names], ["a", "b", "s"])
        d.request("stepOut", {"threadId": 1})
        d.event("stopped")
        frames = d.request("stackTrace", {"threadId": 1})["body"]["stackFrames"]
        self.assertEqual(frames[0]["name"], "main")
        # Break points removed while stopped take effect at once.
        d.request("setBreakpoints", {"source": {"path": path}, "breakpoints": []})
        d.request("continue", {"threadId": 1})
        d.event("terminated")
        self.assertEqual(prog.finish(), HEAD + b"C10101010")

    def test_programs_that_go_away_at_any_point(self):
        d = self.dap
        d.request("initialize", {})
        port = free_port()
        d.request("attach", {"port": port, "root": self.dir})
        path = os.path.join(self.dir, "a.js")
        d.request("setBreakpoints", {"source": {"path": path}, "breakpoints": [{"line": 8}]})
        for junk in (b"", b"C1", b"C10M", b"F99999xyz", b"Z", b"B5Ma.js", b"B9a.js::1:2B" + b"\x00" * 3):
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(junk)
            time.sleep(0.05)
            s.close()
            d.event("terminated")
        # A program that leaves while stopped.
        prog = Program(BIN, {"a.js": SRC}, port, request(["a.js"], "main()"))
        d.event("stopped")
        prog.proc.kill()
        prog.cleanup()
        d.event("terminated")
        self.assertFalse(d.request("stackTrace", {"threadId": 1})["success"])
        # The adapter still serves the next run.
        prog = Program(BIN, {"a.js": SRC}, port, request(["a.js"], "main()"))
        self.addCleanup(prog.cleanup)
        d.event("stopped")
        d.request("setBreakpoints", {"source": {"path": path}, "breakpoints": []})
        d.request("continue", {"threadId": 1})
        d.event("terminated")
        self.assertEqual(prog.finish(), HEAD + b"C10101010")
        # Malformed input from the editor is dropped.
        d.tool.proc.stdin.write(b"Content-Length: 5\r\n\r\n{bad}Content-Length: x\r\n\r\nJunk: 1\r\n\r\n")
        d.tool.proc.stdin.flush()
        self.assertFalse(d.request("nosuchrequest")["success"])


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    args, rest = ap.parse_known_args()
    BIN = os.path.abspath(args.bin)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
