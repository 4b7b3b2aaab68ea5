#!/usr/bin/env python3
"""Runs the benchmark scripts on scriptcgi and on the peer interpreters (QuickJS's qjs, duk, mujs),
checks that the printed results agree, and prints times, ratios and peak memory. Figures only;
never a test. qjs is looked up on PATH, then in $QJS, then where /work/shared/peers/build-quickjs.sh
leaves it by default (/tmp/peers/quickjs/qjs); --qjs names it directly."""
import argparse, math, os, resource, shutil, subprocess, sys, tempfile, time

# With --cpu, times are the children's user + system CPU seconds instead of wall-clock
# seconds: steadier on a machine whose cores are shared with other work.
USE_CPU = False


def cpu_now():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

HERE = os.path.dirname(os.path.abspath(__file__))
PEER_PRELUDE = 'if (typeof console === "undefined") { var console = { log: print, error: print }; }\n'


def run(cmd, cwd=None, stdin=None, env=None):
    """Runs cmd; returns (seconds, stdout bytes, peak RSS in KB)."""
    start = time.perf_counter()
    cpu = cpu_now()
    p = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.PIPE if stdin is not None else subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    out, err = p.communicate(stdin)
    elapsed = (cpu_now() - cpu) if USE_CPU else time.perf_counter() - start
    return elapsed, out, err, p.returncode


def normalise(out):
    """The engine's console lines are "(L) " + texts with strings in double quotes."""
    lines = []
    for line in (out or b"").decode(errors="replace").splitlines():
        if line.startswith("(L) "):
            line = line[4:]
            if len(line) >= 2 and line[0] == '"' and line[-1] == '"':
                line = line[1:-1]
        lines.append(line)
    return "\n".join(lines).encode()


def peak_kb(cmd, cwd=None):
    """Peak resident size of cmd in KB. A child forked from this interpreter starts with the
    interpreter's own pages counted (the peak survives exec), so the program is started by GNU
    time (Debian package `time`), whose own size is small; without it the figure includes
    Python's and is only an upper bound."""
    if os.path.exists("/usr/bin/time"):
        p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
        try:
            return int(p.stderr.decode().strip().splitlines()[-1])
        except (ValueError, IndexError):
            pass
    pid = os.fork()
    if pid == 0:
        if cwd:
            os.chdir(cwd)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        os.execvp(cmd[0], cmd)
    _, _, ru = os.wait4(pid, 0)
    return ru.ru_maxrss


def best_of(n, cmd, cwd=None, env=None):
    """Median time of n runs (the machine may be shared: the median is steadier than the best)."""
    times = []
    out = b""
    for _ in range(n):
        t, out, err, rc = run(cmd, cwd=cwd, env=env)
        if rc != 0 and not out:
            return None, out + err
        times.append(t)
    times.sort()
    return times[len(times) // 2], out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default=os.path.join(HERE, "..", "build", "release"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--qjs", default=None, help="the qjs program (QuickJS)")
    ap.add_argument("--cpu", action="store_true", help="time CPU seconds instead of wall-clock seconds")
    ap.add_argument("--tree", action="store_true",
                    help="also time the engine with its compiled form off (SCRIPTCGI_TREE_ONLY=1)")
    ap.add_argument("scripts", nargs="*")
    args = ap.parse_args()
    global USE_CPU
    USE_CPU = args.cpu
    engine = os.path.join(args.bin, "scriptcgi")
    scripts = args.scripts or sorted(os.path.join(HERE, "scripts", f)
                                     for f in os.listdir(os.path.join(HERE, "scripts")) if f.endswith(".js"))
    qjs = args.qjs or shutil.which("qjs") or os.environ.get("QJS") or "/tmp/peers/quickjs/qjs"
    peers = ([qjs] if qjs and os.access(qjs, os.X_OK) else []) + [p for p in ("duk", "mujs") if shutil.which(p)]
    label = {p: ("qjs" if p == qjs else p) for p in peers}
    work = tempfile.mkdtemp(prefix="scriptcgi-bench-")
    # The engine reads its configuration beside the executable: run a copy in the work folder.
    exe = os.path.join(work, "scriptcgi")
    shutil.copy(engine, exe)
    open(os.path.join(work, "ZOLK.config"), "w").close()

    tree_env = dict(os.environ, SCRIPTCGI_TREE_ONLY="1")
    print(f"{'script':<10} {'scriptcgi':>10} " + (f"{'tree':>10} " if args.tree else "") + " ".join(f"{label[p]:>10}" for p in peers) +
          " " + " ".join(f"{'vs ' + label[p]:>9}" for p in peers) + f" {'peak KB':>9}  agree")
    ratios = {p: [] for p in peers}
    for path in scripts:
        name = os.path.splitext(os.path.basename(path))[0]
        src = open(path).read()
        t_eng, out_eng = best_of(args.runs, [exe, "-e", "main()", path], cwd=work)
        kb = peak_kb([exe, "-e", "main()", path], cwd=work)
        row = [f"{name:<10}", f"{t_eng * 1000 if t_eng else float('nan'):>9.1f}ms"]
        if args.tree:
            t_tree, _ = best_of(args.runs, [exe, "-e", "main()", path], cwd=work, env=tree_env)
            row.append(f"{t_tree * 1000 if t_tree else float('nan'):>9.1f}ms")
        agree = True
        times = {}
        out_eng = normalise(out_eng)
        for p in peers:
            peer_file = os.path.join(work, f"{name}.{label[p]}.js")
            with open(peer_file, "w") as f:
                f.write(PEER_PRELUDE + src + "\nmain();\n")
            t, out = best_of(args.runs, [p, peer_file])
            times[p] = t
            row.append(f"{t * 1000 if t else float('nan'):>9.1f}ms")
            if out.strip() != (out_eng or b"").strip():
                agree = False
        for p in peers:
            if t_eng and times[p]:
                r = times[p] / t_eng
                ratios[p].append(r)
                row.append(f"{r:>8.2f}x")
            else:
                row.append(f"{'-':>9}")
        row.append(f"{kb:>9}")
        row.append("yes" if agree else "NO: " + (out_eng or b"").decode(errors="replace").strip()[:60])
        print(" ".join(row))
    for p in peers:
        if ratios[p]:
            g = math.exp(sum(math.log(r) for r in ratios[p]) / len(ratios[p]))
            print(f"geometric mean speed-up over {label[p]}: {g:.2f}x (peer time / scriptcgi time)")

    # Memory stays flat when a run keeps dropping what it made: a 1 MB string built and dropped
    # 10 and 10,000 times.
    drop = os.path.join(work, "drop.js")
    peaks = []
    for n in (10, 10000):
        with open(drop, "w") as f:
            f.write('function main() { var n = 0; for (var i = 0; i < %d; i++) '
                    '{ var s = "ab".repeat(524288); n = n + s.length; } console.log(n); }\n' % n)
        peaks.append(peak_kb([exe, "-e", "main()", drop], cwd=work))
    print(f"peak memory building and dropping a 1 MB string: {peaks[0]} KB after 10 times, "
          f"{peaks[1]} KB after 10,000 times")

    # One small request, process start to exit, beside /bin/true.
    mod = os.path.join(work, "hello.js")
    with open(mod, "w") as f:
        f.write('function hello(){ sendToFront("greeting", "hello"); }\n')
    body = b"M11210" + b"18hello.js" + b"P17hello()"
    env = dict(os.environ, CONTENT_LENGTH=str(len(body)), REMOTE_ADDR="127.0.0.1")
    timer = os.path.abspath(os.path.join(args.bin, "bench", "spawn_time"))
    if os.path.exists(timer):
        # Spawned from C, the two programs in turn: no interpreter between the runs and the clock.
        with open(os.path.join(work, "request.body"), "wb") as f:
            f.write(body)
        out = subprocess.run([timer, "500", os.path.join(work, "request.body"), "--", exe, "--", "/bin/true"],
                             cwd=work, env=env, capture_output=True, text=True).stdout.splitlines()
        medians = [float(line.split("median ")[1].split(" ms")[0]) for line in out]
        print("request (load hello.js, call hello()), spawn to exit, 500 runs each in turn:")
        for line in out:
            print("  " + line.replace(exe, "scriptcgi"))
        if len(medians) == 2 and medians[1] > 0:
            print(f"  scriptcgi / /bin/true (medians): {medians[0] / medians[1]:.2f}x")
    else:
        n = 200
        start = time.perf_counter()
        for _ in range(n):
            subprocess.run([exe], cwd=work, input=body, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        req = (time.perf_counter() - start) / n
        start = time.perf_counter()
        for _ in range(n):
            subprocess.run(["/bin/true"], stdout=subprocess.DEVNULL)
        true_t = (time.perf_counter() - start) / n
        print(f"request (load hello.js, call hello()): {req * 1000:.2f} ms per process; /bin/true: {true_t * 1000:.2f} ms")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
