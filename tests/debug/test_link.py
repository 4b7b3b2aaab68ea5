"""scriptcgi-debug driven over loopback by a scripted front end: the module fetch, stops,
stepping, evaluation, reports, and link failures."""
import argparse
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from linkfe import FrontEnd, HEAD, LinkClosed, Program, request

BIN = None

ADD = """function add(a, b) {
  var s = a + b;
  return s;
}
function main() {
  var k = 7;
  var x = add(1, 2);
  var y = x * 10;
  console.log(y);
}
"""
LIB = """var t = 1;
t = t + 1;
function twice(n) { return n * 2; }
"""


def sjis(text):
    return text.encode("cp932")


class Session(unittest.TestCase):
    def start(self, files, body, config=""):
        self.fe = FrontEnd()
        self.prog = Program(BIN, files, self.fe.port, body, config)
        self.addCleanup(self.prog.cleanup)
        self.addCleanup(self.fe.close)
        self.fe.accept()

    def finish_run(self):
        """Reads what the program sends until "X"; returns the messages before it."""
        seen = []
        while True:
            m = self.fe.recv()
            if m == b"X":
                return seen
            seen.append(m)

    def step(self, digit):
        self.assertEqual(self.fe.send("STEP%d" % digit), 5)
        return self.fe.stop()

    def evaluate(self, text):
        payload = ("E" + text).encode() if isinstance(text, str) else b"E" + text
        self.assertEqual(self.fe.send(payload), len(payload))
        return self.fe.recv()


class Stepping(Session):
    def start_add(self, tables):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.fe.serve_module(ADD, tables)

    def test_break_point_then_step_over_a_call(self):
        self.start_add(b"###7:$$$")
        self.assertEqual(self.fe.stop(), ("MainScript::0:4;a.js:main:7:3", "a.js:7:3"))
        # The call on the same line is the next stop point; stepping over it skips add.
        self.assertEqual(self.step(3), ("MainScript::0:4;a.js:main:7:14", "a.js:7:14"))
        self.assertEqual(self.step(3)[1], "a.js:8:3")
        self.assertEqual(self.fe.send("STEP1"), 5)
        self.assertEqual(self.finish_run(), [b"L30"])
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")

    def test_step_into_and_out(self):
        self.start_add(b"###7:$$$")
        self.fe.stop()
        self.step(3)
        stack, where = self.step(2)
        self.assertEqual(stack, "MainScript::0:4;a.js:main:7:14;a.js:add:2:3")
        self.assertEqual(where, "a.js:2:3")
        # Out of add: the next stop point after its return is in main.
        stack, where = self.step(4)
        self.assertEqual((stack, where), ("MainScript::0:4;a.js:main:8:3", "a.js:8:3"))
        self.fe.send("STEP1")
        self.finish_run()
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")

    def test_stepping_past_the_end_of_a_function_stops_in_its_caller(self):
        self.start_add(b"###3:$$$")
        self.assertEqual(self.fe.stop()[1], "a.js:3:3")
        self.assertEqual(self.step(3)[1], "a.js:8:3")

    def test_run_after_a_break_point_in_a_callee_does_not_stop_in_the_caller(self):
        self.start_add(b"###3:$$$")
        self.fe.stop()
        self.fe.send("STEP1")
        self.assertEqual(self.finish_run(), [b"L30"])

    def test_step_command_0_ends_debugging(self):
        self.start_add(b"###2:$$$")
        self.fe.stop()
        self.fe.send("STEP0")
        self.assertEqual(self.fe.recv(), b"X")
        out = self.prog.finish()
        self.assertIn(b"S141855", out)
        self.assertIn("デバッグ終了".encode(), self.prog.journal())


class SecondModule(Session):
    def test_break_point_in_top_level_code_of_a_second_module(self):
        main = "function main() { console.log(t); }\n"
        self.start({"a.js": main, "b.js": LIB}, request(["a.js", "b.js"], "main()"))
        self.fe.serve_module(main, name="a.js")
        self.fe.serve_module(LIB, b"###2:$$$", name="b.js")
        self.assertEqual(self.fe.stop(), ("b.js::2:3", "b.js:2:3"))
        self.assertEqual(self.evaluate(";t"), b"=1")
        # Break points of another module, set while stopped, by name.
        self.assertEqual(self.fe.send("Ba.js:1:"), 8)
        self.assertEqual(self.step(1), ("MainScript::0:4;a.js:main:1:29", "a.js:1:29"))
        self.fe.send("STEP1")
        self.assertEqual(self.finish_run(), [b"L2"])


class Evaluation(Session):
    def stop_in_add(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.fe.serve_module(ADD, b"###3:$$$")
        self.fe.stop()

    def test_replies(self):
        self.stop_in_add()
        cases = [
            (";a + b", b"=3"),
            (";s * 2", b"=6"),
            (';"ab" + a', b"=ab1"),
            (";[a, b]", b"=[1,2]"),
            (";1; 2; a", b"=1"),
            (";a = 40; a + 2", b"=42"),
            ("a.js:main:1:;k", b"=7"),
            ("MainScript::0:;1+1", b"=2"),
            ("a.js:add:2:;a", b"=40"),
            ("a.js:main:2:;k", b"#" + sjis("呼び出し履歴の指定不正")),
            ("b.js:add:2:;a", b"#" + sjis("呼び出し履歴の指定不正")),
            ("junk;a", b"#" + sjis("呼び出し履歴の指定不正")),
            ("1+1", b"#" + sjis("式のフォーマット不正") + b"(1+1)"),
        ]
        for text, reply in cases:
            with self.subTest(text=text):
                self.assertEqual(self.evaluate(text), reply)

    def test_error_replies(self):
        self.stop_in_add()
        parse = self.evaluate(";x y")
        self.assertTrue(parse.startswith(b"#PARSE ERROR: CODE="), parse)
        self.assertIn(b"MESSAGE='PARSE ERROR ", parse)
        refused = self.evaluate(";add(1, 2)")
        self.assertEqual(refused, b"#EVAL ERROR: CODE=1860, MESSAGE='EVAL ERROR 1860 (a.js:0:3) : "
                         + "デバッグでのEVALエラー".encode() + b"'")
        self.assertTrue(self.evaluate(";(((").startswith(b"#PARSE ERROR: CODE="))
        # The run goes on stopped: the next evaluation and the rest of the run still work.
        self.assertEqual(self.evaluate(";b"), b"=2")
        self.fe.send("STEP1")
        self.assertEqual(self.finish_run(), [b"L30"])
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")


class ConditionsAndTraces(Session):
    LOOP = """function sq(v) {
  return v * v;
}
function main() {
  var total = 0;
  for (var i = 0; i < 4; i++) {
    total += sq(i);
  }
  console.log(total);
}
"""

    def test_conditional_break_point(self):
        self.start({"a.js": self.LOOP}, request(["a.js"], "main()"))
        self.fe.serve_module(self.LOOP, b"###$$$2:v == 2;")
        stack, where = self.fe.stop()
        self.assertEqual(where, "a.js:2:3")
        self.assertEqual(self.evaluate(";v"), b"=2")
        self.fe.send("STEP1")
        self.assertEqual(self.finish_run(), [b"L14"])

    def test_failing_and_unparsable_conditions(self):
        self.start({"a.js": self.LOOP}, request(["a.js"], "main()"))
        self.fe.serve_module(self.LOOP, b"###$$$2:x y;7:nothing.at.all;")
        # The parse error is reported while the tables are read.
        self.assertEqual(self.fe.recv(), "D評価する式が不正 'x y'".encode())
        msgs = self.finish_run()
        # Line 7 holds two stop points (the assignment and the call), each tested per round.
        errors = [m for m in msgs if m.startswith(b"#EVAL ERROR: CODE=")]
        self.assertEqual(len(errors), 8, msgs)
        self.assertEqual(msgs[-1], b"L14")

    def test_trace_points_report_calls_and_returns(self):
        self.start({"a.js": self.LOOP}, request(["a.js"], "main()"))
        self.fe.serve_module(self.LOOP, b"2:sq;###$$$")
        msgs = self.finish_run()
        self.assertEqual(msgs[:2], [b"Asq(v=0 )", b"Rsq( 0 )"])
        self.assertEqual(msgs[-3:], [b"Asq(v=3 )", b"Rsq( 9 )", b"L14"])

    def test_tables_set_while_stopped(self):
        self.start({"a.js": self.LOOP}, request(["a.js"], "main()"))
        self.fe.serve_module(self.LOOP, b"###5:$$$")
        self.fe.stop()
        self.assertEqual(self.fe.send("Ta.js:1:tr;"), 11)
        self.assertEqual(self.fe.send("ba.js:2:v == 3;"), 15)
        self.assertEqual(self.fe.send("Ba.js:"), 6)   # clears the break point of line 5
        self.fe.send("STEP1")
        msgs = []
        while not msgs or not msgs[-1].startswith(b"Ba.js:2:"):
            msgs.append(self.fe.recv())
        self.assertEqual(msgs[:2], [b"Atr(v=0 )", b"Rtr( 0 )"])
        self.assertEqual(msgs[-3], b"Atr(v=3 )")
        self.assertEqual(self.evaluate(";v"), b"=3")


class Reports(Session):
    SRC = """function deep(n) {
  return nothing.here.at;
}
function main() {
  try { deep(1); } catch (e) { console.error("caught"); }
  var after = 1;
}
"""

    def test_errors_console_and_calls_left_by_a_jump(self):
        self.start({"a.js": self.SRC}, request(["a.js"], "main()"))
        self.fe.serve_module(self.SRC, b"###6:$$$")
        d = self.fe.recv()
        self.assertTrue(d.startswith(b"DEVAL ERROR ") and b"(a.js:2:" in d, d)
        self.assertEqual(self.fe.recv(), b'E"caught"')
        # The error left deep: its frame is gone from the call stack.
        self.assertEqual(self.fe.stop(), ("MainScript::0:4;a.js:main:6:3", "a.js:6:3"))
        self.fe.send("STEP1")
        self.assertEqual(self.finish_run(), [])
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")


class FatalStop(unittest.TestCase):
    def test_a_fatal_stop_after_connecting_sends_the_end_notice(self):
        fe = FrontEnd()
        self.addCleanup(fe.close)
        prog = Program(BIN, {"a.js": ADD}, fe.port, b"", env_extra={"CONTENT_LENGTH": "12x"})
        self.addCleanup(prog.cleanup)
        fe.accept()
        self.assertEqual(fe.recv(), b"X")
        self.assertTrue(prog.finish().startswith(b"S148555"))


class Loading(Session):
    def test_L_reads_modules_from_files(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()", b"L"))
        self.assertEqual(self.finish_run(), [b"L30"])
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")

    def test_a_module_not_supplied_is_read_from_its_file_with_the_tables(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.fe.serve_module("&&&&", b"###8:$$$")
        self.assertEqual(self.fe.stop()[1], "a.js:8:3")
        self.fe.send("STEP1")
        self.finish_run()

    def test_a_supplied_module_replaces_the_file(self):
        other = "function main() { console.log('front end'); }\n"
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.fe.serve_module(other)
        self.assertEqual(self.finish_run(), [b'L"front end"'])

    def test_a_compiled_image_in_base64(self):
        work = tempfile.mkdtemp(prefix="dbgimage-")
        self.addCleanup(shutil.rmtree, work, True)
        with open(os.path.join(work, "a.js"), "w") as f:
            f.write(ADD)
        subprocess.run([os.path.join(BIN, "scriptcgi-compile"), os.path.join(work, "a.js")], check=True)
        with open(os.path.join(work, "a.jo"), "rb") as f:
            image = f.read()
        self.start({}, request(["a.js"], "main()"))
        self.assertEqual(self.fe.recv(), b"Ma.js")
        self.fe.send(b"o" + base64.b64encode(image))
        self.fe.send(b"###8:$$$")
        self.assertEqual(self.fe.stop()[1], "a.js:8:3")
        self.assertEqual(self.evaluate(";x"), b"=3")
        self.fe.send("STEP1")
        self.assertEqual(self.finish_run(), [b"L30"])
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")

    def test_a_damaged_image_is_refused(self):
        self.start({}, request(["a.js"], "main()"))
        self.assertEqual(self.fe.recv(), b"Ma.js")
        self.fe.send(b"o" + base64.b64encode(b"not an image at all"))
        self.fe.send(b"&&&&")
        d = self.fe.recv()
        self.assertTrue(d.startswith(b"DPARSE ERROR ") and b"(a.js:" in d, d)
        self.assertEqual(self.fe.recv(), b"X")
        self.assertIn(b"S14", self.prog.finish())

    def test_a_parse_error_in_a_supplied_module_is_reported(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.fe.serve_module("function main( {\n")
        d = self.fe.recv()
        self.assertTrue(d.startswith(b"DPARSE ERROR "), d)
        self.assertEqual(self.fe.recv(), b"X")
        self.assertIn(b"S14", self.prog.finish())

    def test_link_failure_during_the_fetch_reads_the_file(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.assertEqual(self.fe.recv(ack=False), b"Ma.js")
        self.fe.conn.close()
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")
        self.assertIn(b"receive socket error\n", self.prog.journal())


class LinkFailures(Session):
    def stopped(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        self.fe.serve_module(ADD, b"###7:$$$")

    def assert_failed_exchange(self, text):
        out = self.prog.finish()
        self.assertIn(b"S141850", out)
        self.assertIn(text, self.prog.journal())

    def test_front_end_that_connects_and_says_nothing(self):
        self.start({"a.js": ADD}, request(["a.js"], "main()"))
        began = time.monotonic()
        out = self.prog.finish(timeout=40)
        self.assertLess(time.monotonic() - began, 30)
        self.assertEqual(out, HEAD + b"C10101010")
        self.assertIn(b"receive socket error\n", self.prog.journal())

    def test_unacknowledged_stop(self):
        self.stopped()
        self.fe.recv(ack=False)
        began = time.monotonic()
        self.assert_failed_exchange(b"receive socket error\n")
        self.assertLess(time.monotonic() - began, 30)

    def test_front_end_gone_while_stopped(self):
        self.stopped()
        self.fe.stop()
        self.fe.conn.close()
        self.assert_failed_exchange(b"recv error\n")

    def test_link_failure_while_an_evaluation_reports(self):
        self.stopped()
        self.fe.stop()
        # Run-time text with a function literal is reported while it is parsed: no answer then.
        self.fe.send("E;f = function (q) { return q; }")
        self.assertTrue(self.fe.recv(ack=False).startswith("D評価する式が不正".encode()))
        self.fe.conn.close()
        self.assert_failed_exchange(b"receive socket error\n")

    def test_bad_headers_and_lying_lengths(self):
        for data in (b"Z12", b"C1x", b"\x00", b"C50abc"):
            with self.subTest(data=data):
                self.stopped()
                self.fe.stop()
                self.fe.send_raw(data)
                self.fe.conn.shutdown(1)
                self.assert_failed_exchange(b"recv error\n")
                self.doCleanups()

    def test_unknown_kinds_and_garbage_lists_are_harmless(self):
        self.stopped()
        self.fe.stop()
        for junk in (b"Qwhat", b"", b"STEP", b"STEP9", b"STEP12", b"Ba.js:x:99999:0:-3::8",
                     b"Bnosuch.js:1:", b"B", b"b", b"ba.js:;;:;9", b"Ta.js:zz;:;", b"T:\xff\xfe"):
            self.assertEqual(self.fe.send(junk), len(junk))
        self.assertEqual(self.evaluate(";1+1"), b"=2")
        # The line 8 of the garbage list was kept.
        self.assertEqual(self.step(1)[1], "a.js:8:3")
        self.fe.send("STEP1")
        self.finish_run()
        self.assertEqual(self.prog.finish(), HEAD + b"C10101010")


class NoListener(unittest.TestCase):
    def test_output_is_that_of_the_engine(self):
        files = {"a.js": ADD + "function bad() { return nothing.here.at; }\n"}
        for call in ("main()", "bad()"):
            outs = []
            for program in ("scriptcgi", "scriptcgi-debug"):
                fe = FrontEnd()
                port = fe.port
                fe.close()   # nobody listens there now
                p = Program(BIN, files, port, request(["a.js"], call), program=program)
                try:
                    # The journal without its start line and its end time: the two runs may end
                    # in different seconds.
                    out = p.finish()
                    journal = p.journal().split(b"\n", 1)[1]
                    outs.append((out, re.sub(rb"end : [0-9/: ]+", b"end : <TIME>", journal)))
                finally:
                    p.cleanup()
            self.assertEqual(outs[0], outs[1])


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    args, rest = ap.parse_known_args()
    BIN = args.bin
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
