#!/usr/bin/env python3
"""End-to-end runner: runs the cases of .cases files against the built programs.

Each case runs in a fresh temporary directory holding its files and a symbolic link to the
program, so that the configuration beside the executable is found. See README.md in this folder
for the file format.
"""
import argparse
import difflib
import fcntl
import hashlib
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import time

TIME_RE = rb"\d+/\d\d/\d\d \d\d:\d\d:\d\d"
SAFE = set(b"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz;,/?:@&=+$-_.*'()#")
TEXT_SECTIONS = {"file", "journal"}        # body lines end with a line feed
STREAM_SECTIONS = {"stdin", "stdout", "request"}      # body lines are joined with nothing
INLINE_SECTIONS = {"program", "status", "args", "lock", "absent", "timeout", "run-via-path", "databases", "rerun",
                   "compile"}
# Database cases: `--- databases: sqlite postgresql` runs a case once per database; <DBKIND> and
# <DBCONN> give the openDb kind and connection string of the one in use. PostgreSQL runs need
# SCRIPTCGI_PG_CONN (scripts/pg-start.sh prints it) and are skipped without it.
SQLITE_DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"
DATABASES = ("sqlite", "postgresql")


def db_conn(ctx):
    if ctx.get("db") == "sqlite":
        return "DRIVER=%s;Database=%s/app.db" % (SQLITE_DRIVER, ctx["dir"])
    return os.environ.get("SCRIPTCGI_PG_CONN", "")


class CaseError(Exception):
    pass


def plain_field(data):
    n = str(len(data)).encode()
    return bytes([ord("0") + len(n)]) + n + data


def encoded_field(data):
    out = bytearray()
    escaped = False
    for b in data:
        if b in SAFE:
            out.append(b)
        else:
            out += b"%%%02X" % b
            escaped = True
    n = str(len(out)).encode()
    return bytes([(ord("A") if escaped else ord("0")) + len(n)]) + n + bytes(out)


def module_dir_digest(directory):
    """The module directory digest, computed independently of the program."""
    base = directory.rstrip("/") or "/"
    entries = []

    def walk(path):
        for name in os.listdir(path):
            full = path + "/" + name
            st = os.stat(full)
            if stat.S_ISDIR(st.st_mode):
                walk(full)
            elif stat.S_ISREG(st.st_mode) and re.fullmatch(r"[jJ][sSoO]", name.rpartition(".")[2]) and "." in name:
                t = time.gmtime(st.st_mtime)
                stamp = "%d/%02d/%02d %02d:%02d:%02d" % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour + 9,
                                                         t.tm_min, t.tm_sec)
                high, low = st.st_size >> 32, st.st_size & 0xFFFFFFFF
                size = "%d:%d" % (high - (1 << 32) * (high >= 1 << 31), low - (1 << 32) * (low >= 1 << 31))
                entries.append((full.encode(), stamp.encode(), size.encode()))

    walk(base)
    entries.sort()
    return hashlib.sha256(b"".join(b"%s;%s;%s\n" % e for e in entries)).hexdigest()


def expand(text, ctx, pos=0, closing=False):
    """Turns the escaped text of a case into bytes. Returns (bytes, position after)."""
    out = bytearray()
    i = pos
    while i < len(text):
        c = text[i]
        if closing and c == ">":
            return bytes(out), i + 1
        if c == "\\":
            if i + 1 >= len(text):
                raise CaseError("backslash at the end of a text")
            e = text[i + 1]
            simple = {"n": b"\n", "r": b"\r", "t": b"\t", "0": b"\0", "\\": b"\\", "<": b"<", ">": b">"}
            if e in simple:
                out += simple[e]
                i += 2
            elif e == "x":
                h = text[i + 2:i + 4]
                if not re.fullmatch(r"[0-9A-Fa-f]{2}", h):
                    raise CaseError("bad \\x escape: \\x" + h)
                out.append(int(h, 16))
                i += 4
            else:
                raise CaseError("unknown escape \\" + e)
            continue
        if c == "<":
            m = re.match(r"<(DIR|TIME|DBKIND|DBCONN)>", text[i:])
            if m:
                if m.group(1).startswith("DB") and not ctx.get("db"):
                    raise CaseError("<%s> outside a database case" % m.group(1))
                if m.group(1) == "DIR":
                    out += ctx["dir"].encode()
                elif m.group(1) == "DBKIND":
                    out += ctx["db"].encode()
                elif m.group(1) == "DBCONN":
                    out += db_conn(ctx).encode()
                else:
                    out += b"\x00TIME\x00"  # masked later
                i += m.end()
                continue
            m = re.match(r"<(PLAIN|ENC|MODDIGEST|NUM|INT|SINT|REAL|REPEAT(\d+)):", text[i:])
            if m:
                inner, i = expand(text, ctx, i + m.end(), closing=True)
                if m.group(1) == "PLAIN":
                    out += plain_field(inner)
                elif m.group(1) == "ENC":
                    out += encoded_field(inner)
                elif m.group(1) in ("NUM", "SINT"):
                    out += bytes([ord("0") + len(inner)]) + inner
                elif m.group(1) == "INT":
                    out += bytes([ord("N") + len(inner)]) + inner
                elif m.group(1) == "REAL":
                    n = str(len(inner)).encode()
                    out += bytes([ord("a") + len(n)]) + n + inner
                elif m.group(1) == "MODDIGEST":
                    out += module_dir_digest(os.path.join(ctx["dir"], inner.decode())).encode()
                else:
                    out += inner * int(m.group(2))
                continue
        out += c.encode()
        i += 1
    if closing:
        raise CaseError("a <...> form is not closed")
    return bytes(out), i


def expand_all(text, ctx):
    return expand(text, ctx)[0]


def text_body(lines, ctx):
    """Text section: every line ends with a line feed unless it ends with a lone backslash."""
    out = bytearray()
    for line in lines:
        if line.endswith("\\") and not line.endswith("\\\\"):
            out += expand_all(line[:-1], ctx)
        else:
            out += expand_all(line, ctx) + b"\n"
    return bytes(out)


def stream_body(lines, ctx):
    return b"".join(expand_all(line, ctx) for line in lines)


def parse_file(path):
    """Returns (defaults, cases); a case is a dict with its name, line and sections."""
    cases = []
    defaults = None
    cur = None
    section = None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()

    def close_section():
        if section is not None:
            while section["body"] and section["body"][-1] == "":
                section["body"].pop()

    for no, line in enumerate(lines, 1):
        if line.startswith("=== "):
            close_section()
            section = None
            head = line[4:].strip()
            if head == "defaults":
                cur = {"name": "defaults", "line": no, "sections": []}
                defaults = cur
            elif head.startswith("case:"):
                cur = {"name": head[5:].strip(), "line": no, "sections": []}
                cases.append(cur)
            else:
                raise CaseError("%s:%d: expected '=== case: NAME' or '=== defaults'" % (path, no))
            continue
        if line.startswith("--- "):
            if cur is None:
                raise CaseError("%s:%d: section outside a case" % (path, no))
            close_section()
            head = line[4:]
            kind, sep, arg = head.partition(":")
            kind = kind.strip()
            arg = arg.strip() if sep else None
            section = {"kind": kind, "arg": arg, "body": [], "line": no}
            cur["sections"].append(section)
            continue
        if section is None:
            if line.strip() == "" or line.startswith("#"):
                continue
            raise CaseError("%s:%d: text outside a section" % (path, no))
        section["body"].append(line)
    close_section()
    return defaults, cases


def build_case(case, defaults, ctx):
    """Collects what a case asks for, its defaults first."""
    spec = {"files": {}, "env": {}, "args": [], "program": "scriptcgi", "status": 0, "stdin": b"",
            "stdout": None, "expect_files": {}, "absent": [], "locks": [], "timeout": 60.0,
            "via_path": False, "reruns": [], "compile": []}
    sections = (defaults["sections"] if defaults else []) + case["sections"]
    for s in sections:
        kind, arg, body = s["kind"], s["arg"], s["body"]
        where = "line %d" % s["line"]
        if arg and kind in ("file", "journal", "absent", "lock"):
            arg = expand_all(arg, ctx).decode("utf-8", "surrogateescape")
        if kind == "file":
            if not arg:
                raise CaseError(where + ": file needs a name")
            spec["files"][arg] = body  # expanded when written
        elif kind == "env":
            for line in body:
                if line.startswith("-"):
                    spec["env"][line[1:].strip()] = None
                    continue
                name, eq, value = line.partition("=")
                if not eq:
                    raise CaseError(where + ": env lines are NAME=VALUE or -NAME")
                spec["env"][name.strip()] = expand_all(value, ctx)
        elif kind == "args":
            if arg is not None:
                spec["args"] = [a.encode() for a in shlex.split(arg)]
            else:
                spec["args"] = [expand_all(line, ctx) for line in body]
        elif kind == "program":
            spec["program"] = arg
        elif kind == "status":
            spec["status"] = int(arg)
        elif kind == "timeout":
            spec["timeout"] = float(arg)
        elif kind == "stdin":
            spec["stdin"] = stream_body(body, ctx)
        elif kind == "request":
            spec["stdin"] = stream_body(body, ctx)
            spec["env"]["CONTENT_LENGTH"] = str(len(spec["stdin"])).encode()
        elif kind == "stdout":
            # `--- stdout: DATABASE` is the expectation for that database only.
            if arg is None or arg == ctx.get("db"):
                if arg is not None or not spec.get("stdout_for_db"):
                    spec["stdout"] = stream_body(body, ctx)
                spec["stdout_for_db"] = spec.get("stdout_for_db") or arg is not None
            elif arg not in DATABASES:
                raise CaseError(where + ": unknown database '%s'" % arg)
        elif kind == "databases":
            pass  # read before the case runs
        elif kind == "rerun":
            # The program runs again in the same directory with these arguments; the standard
            # output of every run is compared as one stream.
            spec["reruns"].append([a.encode() for a in shlex.split(expand_all(arg or "", ctx).decode())])
        elif kind == "journal":
            if not arg:
                raise CaseError(where + ": journal needs a file name")
            spec["expect_files"][arg] = text_body(body, ctx)
        elif kind == "absent":
            spec["absent"].append(arg)
        elif kind == "lock":
            spec["locks"].append(arg)
        elif kind == "run-via-path":
            spec["via_path"] = True
        elif kind == "compile":
            # scriptcgi-compile runs in <DIR> with these arguments before the program starts.
            spec["compile"].append(shlex.split(arg or ""))
        else:
            raise CaseError(where + ": unknown section '%s'" % kind)
    return spec


def mask_times(data):
    return re.sub(TIME_RE, b"\x00TIME\x00", data)


def matches(expected, actual):
    """Exact comparison, where <TIME> in the expectation stands for one date-time text."""
    if b"\x00TIME\x00" not in expected:
        return expected == actual
    pattern = b"".join(re.escape(part) if i % 2 == 0 else TIME_RE
                       for i, part in enumerate(re.split(b"(\x00TIME\x00)", expected)))
    return re.fullmatch(pattern, actual, re.S) is not None


def readable(data):
    """Lines for a diff: bytes shown with escapes, broken after line feeds and before records."""
    text = data.replace(b"\x00TIME\x00", b"<TIME>").decode("utf-8", "backslashreplace")
    text = text.replace("\r", "\\r").replace("\t", "\\t")
    text = "".join(ch if ch == "\n" or ch >= " " else "\\x%02x" % ord(ch) for ch in text)
    return text.split("\n")


def diff(label, expected, actual):
    exp = readable(expected)
    act = readable(mask_times(actual) if b"\x00TIME\x00" in expected else actual)
    lines = difflib.unified_diff(exp, act, "expected " + label, "actual " + label, lineterm="", n=3)
    text = "\n".join(lines)
    if b"\x00TIME\x00" not in expected:
        # Records share long lines: point at the first byte that differs.
        at = next((i for i, (a, b) in enumerate(zip(expected, actual)) if a != b), min(len(expected), len(actual)))
        lo = max(0, at - 20)
        text += "\nfirst difference at byte %d (expected %d bytes, got %d):\n  expected ...%s\n  actual   ...%s" % (
            at, len(expected), len(actual), "\\n".join(readable(expected[lo:at + 30])),
            "\\n".join(readable(actual[lo:at + 30])))
    return text


def case_databases(case, defaults):
    """The databases a case runs against (none for an ordinary case)."""
    dbs = []
    for s in (defaults["sections"] if defaults else []) + case["sections"]:
        if s["kind"] == "databases":
            dbs = (s["arg"] or "").split()
            for d in dbs:
                if d not in DATABASES:
                    raise CaseError("line %d: unknown database '%s'" % (s["line"], d))
    return dbs


# Round trip through compiled modules (--compiled): a case whose request names source modules in
# its leading M command runs again with each of them compiled by scriptcgi-compile and named as
# .jo ("jo"), and once more after an extra source module listed first ("after"), which makes the
# compiled modules install at raised floors with their names merged. Module names keep their
# length (.js becomes .jo), so the request and the expectations change only in those names.
PRE_SOURCE = (b"var rt_pre_table = {alpha: 1, beta: [2, 3.5], gamma: 'g'};\n"
              b"function rt_pre_f(a, b) { var t = a + b; return t + 'x'; }\n")


class NotApplicable(Exception):
    pass


def read_field(data, i, letters=b"0A"):
    """A length-prefixed field at i: (value bytes, end). The prefix letter gives the digit count."""
    c = data[i]
    base = next((b for b in letters if b <= c <= b + 13), None)
    if base is None:
        raise NotApplicable()
    k = c - base
    digits = data[i + 1:i + 1 + k]
    if len(digits) != k or not digits.isdigit():
        raise NotApplicable()
    n = int(digits) if k else 0
    return n, i + 1 + k


def module_list(request):
    """(names, end of the M command) of a request that starts with one, else NotApplicable."""
    if not request.startswith(b"M"):
        raise NotApplicable()
    count, i = read_field(request, 1, b"0")
    length, i = read_field(request, i)
    block, end = request[i:i + length], i + length
    names, j = [], 0
    while j < len(block):
        n, j = read_field(block, j)
        names.append(block[j:j + n])
        j += n
    if len(names) != count:
        raise NotApplicable()
    return names, end


def module_request(names, rest):
    inner = b"".join(plain_field(n) for n in names)
    count = str(len(names)).encode()
    return b"M" + bytes([ord("0") + len(count)]) + count + plain_field(inner) + rest


def config_module_dir(spec, tmp):
    body = spec["files"].get("bin/ZOLK.config" if spec["via_path"] else "ZOLK.config")
    mdir = ""
    for line in body or []:
        key, eq, value = line.partition("=")
        if eq and key.strip().upper() == "MODULE_DIR":
            mdir = value.strip().split(">>>")[0].strip()
    return os.path.join(tmp, mdir) if mdir else tmp


def compile_modules(spec, tmp, bindir, variant):
    """Compiles the request's source modules and rewrites the request and the expectations."""
    names, end = module_list(spec["stdin"])
    if len(names) > 100:
        raise NotApplicable()
    mdir = config_module_dir(spec, tmp)
    compiled = []
    for name in names:
        if not name.lower().endswith(b".js") or not os.path.isfile(os.path.join(mdir.encode(), name)):
            continue
        jo = name[:-3] + (b".jo" if name.endswith(b".js") else b".JO")
        proc = subprocess.run([os.path.join(bindir, "scriptcgi-compile").encode(), name, b"-o", jo], cwd=mdir,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if proc.returncode != 0:
            if os.path.exists(os.path.join(mdir.encode(), jo)):
                return ["the compiler left %s behind after an error" % jo.decode()]
            # A module that does not parse: the compiler reports what the engine reports.
            message = proc.stderr.rstrip(b"\n")
            journals = list(spec["expect_files"].values())
            if journals and not any(message in j for j in journals):
                return ["the compiler's error differs from the engine's: %r" % message]
            raise NotApplicable()
        compiled.append((name, jo))
    if not compiled:
        raise NotApplicable()

    def rename(data):
        for js, jo in compiled:
            data = data.replace(js, jo)
        return data

    listed = [rename(n) if n in dict(compiled) else n for n in names]
    first = b"(" + listed[0] + b":0:0)"
    if variant == "after":
        # Before the first node runs (and while the module list is read), errors name module 0:
        # the extra module's name has the first one's length, so that only the name changes in
        # those texts.
        pre = pre_module_name(listed)
        with open(os.path.join(mdir.encode(), pre), "wb") as f:
            f.write(PRE_SOURCE)
        listed = [pre] + listed
        # The same holds for requests refused while they are read (parse errors at line 0).
        first_parse = b"(" + listed[1] + b":0)"
        rename_first = lambda data: data.replace(first, b"(" + pre + b":0:0)").replace(
            first_parse, b"(" + pre + b":0)")
    else:
        rename_first = lambda data: data
    spec["stdin"] = module_request(listed, spec["stdin"][end:])
    spec["env"]["CONTENT_LENGTH"] = str(len(spec["stdin"])).encode()
    if spec["stdout"] is not None:
        spec["stdout"] = rename_first(rename(spec["stdout"]))
    for k in spec["expect_files"]:
        spec["expect_files"][k] = rename_first(rename(spec["expect_files"][k]))
    return None


def compile_given(spec, tmp, bindir):
    for args in spec["compile"]:
        proc = subprocess.run([os.path.join(bindir, "scriptcgi-compile")] + args, cwd=tmp,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if proc.returncode != 0:
            raise CaseError("scriptcgi-compile %s failed: %s" % (" ".join(args), proc.stderr.decode()))


def pre_module_name(listed):
    n = max(len(listed[0]) - 3, 1) if re.fullmatch(rb"[A-Za-z0-9_./-]+", listed[0]) else 6
    for letter in b"rqpz":
        name = bytes([letter]) * n + b".js"
        if name not in listed:
            return name
    raise NotApplicable()


def run_pair(bindir, tmp, spec, names, call, jo_names):
    """Runs the call as a CGI request from the source modules, then, with the directory put back
    as it was (databases included), from the compiled ones; returns both (stdout, journal)."""
    twin = tmp + ".orig"
    shutil.copytree(tmp, twin, symlinks=True)
    results = []
    for listed in (names, jo_names):
        if results:
            shutil.rmtree(tmp)
            shutil.copytree(twin, tmp, symlinks=True)
        where = tmp
        body = module_request(listed, b"P" + plain_field(call))
        env = {b"PATH": b"/usr/bin:/bin", b"TZ": b"UTC", b"LANG": b"C", b"CONTENT_LENGTH": str(len(body)).encode()}
        for keep_var in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if keep_var in os.environ:
                env[keep_var.encode()] = os.environ[keep_var].encode()
        for k, v in spec["env"].items():
            if v is not None:
                env[k.encode()] = v
        link = os.path.join(where, "scriptcgi")
        proc = subprocess.run([link.encode()], cwd=where, env=env, input=body, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=spec["timeout"])
        journal = b""
        if os.path.exists(os.path.join(where, "rt_journal.log")):
            with open(os.path.join(where, "rt_journal.log"), "rb") as f:
                journal = f.read()
        results.append((mask_times(proc.stdout), mask_times(journal)))
    shutil.rmtree(twin, ignore_errors=True)
    return results


def run_differential(case, defaults, bindir, db, variant):
    """A command-line case (-e call files...) run as a request from its sources and from their
    compiled images: both runs must write the same bytes."""
    if db == "postgresql":
        raise NotApplicable()
    tmp = tempfile.mkdtemp(prefix="e2e_")
    ctx = {"dir": tmp, "db": db}
    try:
        spec = build_case(case, defaults, ctx)
        args = spec["args"]
        if spec["program"] != "scriptcgi" or spec["via_path"] or spec["reruns"] or len(args) < 3 or args[0] != b"-e":
            raise NotApplicable()
        call, names = args[1], args[2:]
        if len(call) > 255 or any(not n.endswith(b".js") for n in names):
            raise NotApplicable()
        for name, body in spec["files"].items():
            p = os.path.join(tmp, name)
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(text_body(body, ctx))
        config = os.path.join(tmp, "ZOLK.config")
        lines = []
        if os.path.exists(config):
            with open(config, "rb") as f:
                lines = f.read().split(b"\n")
        if any(l.strip().upper().startswith(b"MODULE_DIR") for l in lines):
            raise NotApplicable()
        lines = [l for l in lines if not l.strip().upper().startswith(b"LOGFILE")] + [b"LOGFILE=rt_journal.log"]
        with open(config, "wb") as f:
            f.write(b"\n".join(lines) + b"\n")
        os.symlink(os.path.join(bindir, "scriptcgi"), os.path.join(tmp, "scriptcgi"))
        jo_names = []
        for name in names:
            if not os.path.isfile(os.path.join(tmp.encode(), name)):
                raise NotApplicable()
            jo = name[:-3] + b".jo"
            proc = subprocess.run([os.path.join(bindir, "scriptcgi-compile").encode(), name, b"-o", jo], cwd=tmp,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if proc.returncode != 0:
                raise NotApplicable()   # a module that does not parse runs from no image
            jo_names.append(jo)
        if variant == "after":
            pre = pre_module_name(names)
            with open(os.path.join(tmp.encode(), pre), "wb") as f:
                f.write(PRE_SOURCE)
            names, jo_names = [pre] + names, [pre] + jo_names
        (out1, j1), (out2, j2) = run_pair(bindir, tmp, spec, names, call, jo_names)
        for js, jo in zip(names, jo_names):
            out1, j1 = out1.replace(js, jo), j1.replace(js, jo)
        problems = []
        if out1 != out2:
            problems.append(diff("stdout (.js run, names as .jo)", out1, out2))
        if j1 != j2:
            problems.append(diff("journal (.js run, names as .jo)", j1, j2))
        return problems
    except CaseError as e:
        return ["case error: %s" % e]
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def run_case(case, defaults, bindir, keep, db=None, variant=None):
    tmp = tempfile.mkdtemp(prefix="e2e_")
    ctx = {"dir": tmp, "db": db}
    problems = []
    locks = []
    try:
        spec = build_case(case, defaults, ctx)
        # Files that hold a directory digest are written after the others (and after the
        # compiled modules, which the digest covers too).
        order = sorted(spec["files"].items(), key=lambda kv: any("<MODDIGEST:" in l for l in kv[1]))
        compiled = variant is None
        compiled_given = False
        for name, body in order:
            if any("<MODDIGEST:" in l for l in body) and not compiled_given:
                compiled_given = True
                compile_given(spec, tmp, bindir)
            if not compiled and any("<MODDIGEST:" in l for l in body):
                problems = compile_modules(spec, tmp, bindir, variant) or []
                compiled = True
                if problems:
                    return problems
            p = os.path.join(tmp, name)
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(text_body(body, ctx))
        if not compiled_given:
            compile_given(spec, tmp, bindir)
        if not compiled:
            problems = compile_modules(spec, tmp, bindir, variant) or []
            if problems:
                return problems
        program = os.path.join(bindir, spec["program"])
        if not os.path.exists(program):
            raise CaseError("no program " + program)
        env = {"PATH": "/usr/bin:/bin", "TZ": "UTC", "LANG": "C"}
        for keep_var in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "SCRIPTCGI_TREE_ONLY"):
            if keep_var in os.environ:
                env[keep_var] = os.environ[keep_var]
        if spec["via_path"]:
            # Copied and started by bare name: the program finds its directory without argv[0].
            bindir_tmp = os.path.join(tmp, "bin")
            os.makedirs(bindir_tmp, exist_ok=True)
            shutil.copy(program, os.path.join(bindir_tmp, spec["program"]))
            env["PATH"] = bindir_tmp + ":" + env["PATH"]
            argv0 = spec["program"]
            exe = os.path.join(bindir_tmp, spec["program"])
        else:
            link = os.path.join(tmp, spec["program"])
            os.symlink(program, link)
            argv0 = exe = link
        envb = {k.encode(): (v if isinstance(v, bytes) else v.encode()) for k, v in env.items()}
        for k, v in spec["env"].items():
            if v is None:
                envb.pop(k.encode(), None)
            else:
                envb[k.encode()] = v
        for name in spec["locks"]:
            fd = os.open(os.path.join(tmp, name), os.O_WRONLY | os.O_CREAT, 0o644)
            fcntl.flock(fd, fcntl.LOCK_EX)
            locks.append(fd)
        stdout = b""
        stderr = b""
        try:
            for args in [spec["args"]] + spec["reruns"]:
                proc = subprocess.run([argv0.encode()] + args, executable=exe, cwd=tmp, env=envb,
                                      input=spec["stdin"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=spec["timeout"])
                stdout += proc.stdout
                stderr += proc.stderr
                if proc.returncode != spec["status"]:
                    problems.append("exit status %d, expected %d" % (proc.returncode, spec["status"]))
        except subprocess.TimeoutExpired:
            return ["timed out after %g s" % spec["timeout"]]
        finally:
            for fd in locks:
                os.close(fd)
            locks = []
        if spec["stdout"] is not None and not matches(spec["stdout"], stdout):
            problems.append(diff("stdout", spec["stdout"], stdout))
        for name, expected in spec["expect_files"].items():
            p = os.path.join(tmp, name)
            if not os.path.exists(p):
                problems.append("file %s was not written" % name)
                continue
            with open(p, "rb") as f:
                actual = f.read()
            if not matches(expected, actual):
                problems.append(diff(name, expected, actual))
        for name in spec["absent"]:
            if os.path.exists(os.path.join(tmp, name)):
                problems.append("file %s exists but should not" % name)
        if problems and stderr:
            problems.append("stderr:\n" + stderr.decode("utf-8", "backslashreplace")[-4000:])
        return problems
    except CaseError as e:
        return ["case error: %s" % e]
    finally:
        for fd in locks:
            os.close(fd)
        if keep and problems:
            print("  kept directory " + tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--bin", required=True, help="directory holding scriptcgi and scriptcgi-debug")
    ap.add_argument("-k", dest="filter", help="run only cases whose name contains this text")
    ap.add_argument("--keep", action="store_true", help="keep the directories of failed cases")
    ap.add_argument("--compiled", action="store_true",
                    help="also run every case that loads source modules from their compiled images")
    ap.add_argument("files", nargs="+")
    opts = ap.parse_args()
    passed = failed = skipped = 0
    for path in opts.files:
        try:
            defaults, cases = parse_file(path)
        except CaseError as e:
            print("FAIL %s: %s" % (path, e))
            failed += 1
            continue
        for case in cases:
            if opts.filter and opts.filter not in case["name"]:
                continue
            label = "%s:%d %s" % (os.path.basename(path), case["line"], case["name"])
            try:
                dbs = case_databases(case, defaults)
            except CaseError as e:
                failed += 1
                print("FAIL %s: %s" % (label, e))
                continue
            for db in dbs or [None]:
                run_label = label + (" [%s]" % db if db else "")
                if db == "postgresql" and not os.environ.get("SCRIPTCGI_PG_CONN"):
                    skipped += 1
                    print("skip " + run_label + " (SCRIPTCGI_PG_CONN is not set)")
                    continue
                for variant in [None] + (["jo", "after"] if opts.compiled else []):
                    vlabel = run_label + (" [%s]" % variant if variant else "")
                    try:
                        problems = run_case(case, defaults, os.path.abspath(opts.bin), opts.keep, db, variant)
                    except NotApplicable:
                        try:
                            problems = run_differential(case, defaults, os.path.abspath(opts.bin), db, variant)
                        except NotApplicable:
                            continue
                    if problems:
                        failed += 1
                        print("FAIL " + vlabel)
                        for p in problems:
                            print("  " + p.replace("\n", "\n  "))
                    else:
                        passed += 1
                        print("ok   " + vlabel)
    print("%d passed, %d failed" % (passed, failed) + (", %d skipped" % skipped if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
