#!/usr/bin/env python3
"""PostgreSQL connections leave no driver log files behind (psqlODBC writes
/tmp/psqlodbc_*<user><pid>.log and /tmp/mylog_*<user><pid>.log) unless the connection string asks
for logging: a plain connection and one through a DSN that turns CommLog and Debug on leave
nothing; CommLog=1 in the connection string still logs. Needs SCRIPTCGI_PG_CONN (skipped
without it) and the driver-wide settings that scripts/install-deps.sh makes."""
import argparse
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile

LOG_DIR = "/tmp"


def plain(text: str) -> str:
    n = str(len(text.encode()))
    return str(len(n)) + n + text


def driver_logs(pid: int):
    tail = "%s%d.log" % (pwd.getpwuid(os.getuid()).pw_name, pid)
    return sorted(n for n in os.listdir(LOG_DIR)
                  if n.startswith(("psqlodbc_", "mylog_")) and n.endswith(tail))


def run(program, directory, conn: str, env_extra):
    call = 'f("%s")' % conn.replace("\\", "\\\\").replace('"', '\\"')
    body = "M11" + plain(plain("m.js")) + "P" + plain(call)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TZ": "UTC", "LANG": "C",
           "CONTENT_LENGTH": str(len(body.encode()))}
    for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
        if key in os.environ:
            env[key] = os.environ[key]
    env.update(env_extra)
    proc = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, cwd=directory, env=env)
    out, _ = proc.communicate(body.encode(), timeout=60)
    return proc.pid, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    args = ap.parse_args()
    conn = os.environ.get("SCRIPTCGI_PG_CONN")
    if not conn:
        print("skipped: SCRIPTCGI_PG_CONN is not set")
        return
    fields = dict(p.split("=", 1) for p in conn.split(";") if "=" in p)
    directory = tempfile.mkdtemp(prefix="scriptcgi-pglogs-")
    failures = 0
    try:
        with open(os.path.join(directory, "ZOLK.config"), "w") as f:
            f.write("LOGFILE=journal.log\n")
        with open(os.path.join(directory, "m.js"), "w") as f:
            f.write('function f(c) { var db = openDb("postgresql", "libodbc.so.2", c); closeDb(db); sendToFront("ok"); }\n')
        # A DSN of its own that turns the driver's logging on for its connections.
        with open(os.path.join(directory, "odbc.ini"), "w") as f:
            f.write("[logdsn]\nDriver=%s\nServername=%s\nPort=%s\nDatabase=%s\nCommLog=1\nDebug=1\n" %
                    (fields.get("DRIVER", ""), fields.get("Server", ""), fields.get("Port", ""),
                     fields.get("Database", "")))
        program = os.path.join(directory, "scriptcgi")
        os.symlink(os.path.join(os.path.abspath(args.bin), "scriptcgi"), program)
        dsn_env = {"ODBCINI": os.path.join(directory, "odbc.ini")}
        uid = "Uid=%s;Pwd=%s" % (fields.get("Uid", ""), fields.get("Pwd", ""))
        cases = [
            ("a plain connection leaves no log file", conn, {}, False),
            ("a DSN that turns logging on leaves no log file", "DSN=logdsn;" + uid, dsn_env, False),
            ("CommLog=1 in the connection string still logs", conn + ";CommLog=1", {}, True),
        ]
        for name, cs, env_extra, want_log in cases:
            pid, out = run(program, directory, cs, env_extra)
            logs = driver_logs(pid)
            for n in logs:
                os.remove(os.path.join(LOG_DIR, n))
            connected = re.search(rb"ok", out) is not None
            ok = connected and bool(logs) == want_log
            print(("ok   " if ok else "FAIL ") + name)
            if not ok:
                failures += 1
                print("  output %r, log files %r" % (out[:300], logs))
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    print("%d passed, %d failed" % (len(cases) - failures, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
