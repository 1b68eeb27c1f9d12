#!/usr/bin/env python3
"""Runs dcr and dcr-reference on every bench input and compares them.

    run.sh BUILD_DIR [--only NAME ...] [--no-scale] [--no-reference]
                     [--scale-timeout S] [--timeout S] [--mem-limit-mb MB]
                     [--reference-runs N] [--keep]

For each small input (bench/inputs/<name>/input), in a fresh temporary
folder: runs count_steps (the number of factoring steps, and an answer that
must equal the reference's), dcr-reference (three times, the best time
counts) and dcr (repeated while its runs add up to under a second, at most
5 times; the best time counts).
The three "output" files must be byte-identical. Then dcr alone runs on the
scale inputs, which make_inputs.py writes into the temporary folder, and
its output must equal the exact expected bytes.

Prints per input: wall times, the reference/dcr ratio, steps per second,
peak resident memory; then the geometric mean of the ratios over the small
inputs. Exits 1 if any output differs or any run fails, else 0.
"""

import argparse
import math
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


class Run:
    def __init__(self, seconds, rss_kb, status, output, stdout, stderr):
        self.seconds, self.rss_kb, self.status = seconds, rss_kb, status
        self.output, self.stdout, self.stderr = output, stdout, stderr

    @property
    def ok(self):
        return self.status == 0 and self.output is not None


def run_in(folder, exe, timeout, mem_limit_mb, spawn_time=None):
    """Runs exe with folder as working directory; wall time and peak RSS.

    With spawn_time (bench/spawn_time.cpp) the time is the program's own,
    from its spawn to its exit; otherwise it includes starting GNU time or
    the program from Python, some milliseconds that matter on short runs."""
    out_path = os.path.join(folder, "output")
    if os.path.exists(out_path):
        os.remove(out_path)
    stdout_path, stderr_path = os.path.join(folder, ".stdout"), os.path.join(folder, ".stderr")
    rss_path = os.path.join(folder, ".rss")
    # Peak RSS through GNU time: a child forked straight from Python would
    # carry the interpreter's own peak into its ru_maxrss.
    if spawn_time:
        command = [spawn_time, rss_path, exe]
    else:
        command = [TIME, "-f", "%M", "-o", rss_path, exe] if TIME else [exe]

    def limits():
        os.setsid()
        if mem_limit_mb > 0:
            cap = mem_limit_mb * 1024 * 1024
            resource.setrlimit(resource.RLIMIT_AS, (cap, cap))

    with open(stdout_path, "wb") as so, open(stderr_path, "wb") as se:
        start = time.perf_counter()
        proc = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=so, stderr=se,
                                preexec_fn=limits)
        timed_out = threading.Event()

        def kill():
            timed_out.set()
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

        timer = threading.Timer(timeout, kill)
        timer.start()
        _, wstatus, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - start
        timer.cancel()
        proc.returncode = os.waitstatus_to_exitcode(wstatus)
    status = "timeout" if timed_out.is_set() else proc.returncode
    output = None
    if status == 0 and os.path.exists(out_path):
        with open(out_path, "rb") as f:
            output = f.read()
    with open(stdout_path, "rb") as f:
        stdout = f.read().decode(errors="replace")
    with open(stderr_path, "rb") as f:
        stderr = f.read().decode(errors="replace")
    rss_kb = None if TIME or spawn_time or timed_out.is_set() else usage.ru_maxrss
    if spawn_time and os.path.exists(rss_path):
        with open(rss_path) as f:
            fields = f.read().split()
        if len(fields) == 2:
            seconds, rss_kb = float(fields[0]), int(fields[1])
    elif TIME and os.path.exists(rss_path):
        with open(rss_path) as f:
            numbers = [line.strip() for line in f if line.strip().isdigit()]
        if numbers:
            rss_kb = int(numbers[-1])
    return Run(seconds, rss_kb, status, output, stdout, stderr)


def prepare(root, name, source, who):
    folder = os.path.join(root, name, who)
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(source, os.path.join(folder, "input"))
    return folder


def best_of(folder, exe, args, most=5, budget=1.0):
    """Repeats a program so that noise counts less (at most `most` runs, and
    no new run once they add up to `budget` seconds); keeps the best."""
    runs = [run_in(folder, exe, args.timeout, args.mem_limit_mb, args.spawn_time)]
    while runs[-1].ok and len(runs) < most and sum(r.seconds for r in runs) < budget:
        runs.append(run_in(folder, exe, args.timeout, args.mem_limit_mb, args.spawn_time))
    bad = [r for r in runs if not r.ok]
    if bad:
        return bad[0]
    outputs = {r.output for r in runs}
    best = min(runs, key=lambda r: r.seconds)
    if len(outputs) != 1:
        best.status = "outputs differ between repeated runs"
        best.output = None
    known = [r.rss_kb for r in runs if r.rss_kb is not None]
    best.rss_kb = max(known) if known else None
    return best


def fmt_time(run):
    if run is None:
        return "-"
    if not run.ok:
        if run.status == 0:
            return "no output"
        return f"exit {run.status}" if isinstance(run.status, int) else str(run.status)
    return f"{run.seconds:.3f}s"


def fmt_mb(run):
    return "-" if run is None or run.rss_kb is None else f"{run.rss_kb / 1024:.1f}"


def fmt_rate(steps, run):
    if steps is None or run is None or not run.ok or run.seconds <= 0:
        return "-"
    rate = steps / run.seconds
    for unit, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if rate >= scale:
            return f"{rate / scale:.2f}{unit}"
    return f"{rate:.1f}"


def failure_note(who, run):
    text = (run.stderr.strip().splitlines() or [""])[-1]
    return f"{who}: status {run.status}" + (f" ({text})" if text else "")


def main():
    ap = argparse.ArgumentParser(description="dcr bench: dcr against dcr-reference on bench/inputs")
    ap.add_argument("build", help="build folder configured with -DDCR_BENCH=ON")
    ap.add_argument("--only", nargs="+", metavar="NAME", help="run only these inputs")
    ap.add_argument("--no-scale", action="store_true", help="skip the scale inputs")
    ap.add_argument("--no-reference", action="store_true",
                    help="skip dcr-reference and count_steps (no comparison, no ratio)")
    ap.add_argument("--timeout", type=float, default=120.0, help="seconds per run (default 120)")
    ap.add_argument("--scale-timeout", type=float, default=20.0,
                    help="seconds per dcr run on a scale input (default 20)")
    ap.add_argument("--mem-limit-mb", type=int, default=4096,
                    help="address-space cap per run, 0 for none (default 4096)")
    ap.add_argument("--reference-runs", type=int, default=3,
                    help="runs of dcr-reference per input, the best counts (default 3)")
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    ap.add_argument("--outer-clock", action="store_true",
                    help="time runs from Python (bench start-up included), not with spawn_time")
    args = ap.parse_args()
    args.build = os.path.abspath(args.build)  # the programs run in other folders
    spawn_time = os.path.join(args.build, "bench", "spawn_time")
    args.spawn_time = None if args.outer_clock or not os.access(spawn_time, os.X_OK) else spawn_time

    exes = {
        "dcr": os.path.join(args.build, "dcr"),
        "reference": os.path.join(args.build, "tests", "reference", "dcr-reference"),
        "count_steps": os.path.join(args.build, "bench", "count_steps"),
    }
    needed = ["dcr"] if args.no_reference else list(exes)
    missing = [exes[k] for k in needed if not os.access(exes[k], os.X_OK)]
    if missing:
        print("run.sh: missing " + ", ".join(missing) + " (build with -DDCR_BENCH=ON first)",
              file=sys.stderr)
        return 2

    inputs_dir = os.path.join(HERE, "inputs")
    small = sorted(d for d in os.listdir(inputs_dir) if os.path.isfile(os.path.join(inputs_dir, d, "input")))
    scale_names = subprocess.run([sys.executable, os.path.join(HERE, "make_inputs.py"), "--scale", "--list"],
                                 check=True, capture_output=True, text=True).stdout.split()
    if args.only:
        unknown = [n for n in args.only if n not in small and n not in scale_names]
        if unknown:
            print("run.sh: unknown input " + ", ".join(unknown), file=sys.stderr)
            return 2
        small = [n for n in small if n in args.only]
        scale_names = [n for n in scale_names if n in args.only]
    if args.no_scale:
        scale_names = []

    root = tempfile.mkdtemp(prefix="dcr-bench-")
    header = (f"{'input':26} {'answer':>8} {'steps':>11} {'dcr':>9} {'reference':>10} {'ratio':>7} "
              f"{'dcr steps/s':>12} {'ref steps/s':>12} {'dcr MB':>8} {'ref MB':>8}  form")
    print(header)
    print("-" * len(header))
    failures, ratios = [], []
    started = time.perf_counter()
    try:
        for name in small:
            source = os.path.join(inputs_dir, name, "input")
            steps, count, ref, form = None, None, None, "-"
            if not args.no_reference:
                count = run_in(prepare(root, name, source, "count"), exes["count_steps"], args.timeout,
                               args.mem_limit_mb)
                if count.ok:
                    facts = dict(line.split(None, 1) for line in count.stdout.splitlines() if line)
                    steps = int(facts["steps"])
                    form = facts.get("form", "-").strip()
                else:
                    failures.append(f"{name}: {failure_note('count_steps', count)}")
                ref = best_of(prepare(root, name, source, "reference"), exes["reference"], args,
                              most=args.reference_runs, budget=float("inf"))
                if not ref.ok:
                    failures.append(f"{name}: {failure_note('dcr-reference', ref)}")
            mine = best_of(prepare(root, name, source, "dcr"), exes["dcr"], args)
            if not mine.ok:
                failures.append(f"{name}: {failure_note('dcr', mine)}")
            answer = "-"
            if mine.ok:
                answer = "NO" if mine.output == b"NO" else "YES"
            if ref is not None and ref.ok and mine.ok and mine.output != ref.output:
                failures.append(f"{name}: dcr wrote {mine.output!r}, dcr-reference {ref.output!r}")
                answer = "DIFFERS"
            if ref is not None and ref.ok and count.ok and count.output != ref.output:
                failures.append(f"{name}: count_steps (the engine) answered {count.output!r}, "
                                f"dcr-reference {ref.output!r}")
            ratio = "-"
            if ref is not None and ref.ok and mine.ok and mine.seconds > 0:
                ratios.append(ref.seconds / mine.seconds)
                ratio = f"{ratios[-1]:.2f}x"
            print(f"{name:26} {answer:>8} {steps if steps is not None else '-':>11} {fmt_time(mine):>9} "
                  f"{fmt_time(ref):>10} {ratio:>7} {fmt_rate(steps, mine):>12} {fmt_rate(steps, ref):>12} "
                  f"{fmt_mb(mine):>8} {fmt_mb(ref):>8}  {form}", flush=True)

        if scale_names:
            subprocess.run([sys.executable, os.path.join(HERE, "make_inputs.py"), "--scale", "--out",
                            os.path.join(root, "scale")], check=True)
        # Factoring steps of the scale inputs, known in closed form: K_{2,n}
        # tries its n folded links one after another down the fails chain;
        # the path folds into one link, decided at the root.
        scale_steps = {"scale_k2n_100000": 100000, "scale_path_100000": 1}
        for name in scale_names:
            made = os.path.join(root, "scale", name)
            with open(os.path.join(made, "expected"), "rb") as f:
                expected = f.read()
            limited = argparse.Namespace(**vars(args))
            limited.timeout = args.scale_timeout
            mine = best_of(prepare(root, name, os.path.join(made, "input"), "dcr"), exes["dcr"], limited)
            answer = "-"
            if not mine.ok:
                failures.append(f"{name}: {failure_note('dcr', mine)}")
            elif mine.output != expected:
                failures.append(f"{name}: dcr wrote {mine.output!r}, expected {expected!r}")
                answer = "DIFFERS"
            else:
                answer = "YES"
            steps = scale_steps.get(name)
            print(f"{name:26} {answer:>8} {steps if steps is not None else '-':>11} {fmt_time(mine):>9} "
                  f"{'-':>10} {'-':>7} {fmt_rate(steps, mine):>12} {'-':>12} {fmt_mb(mine):>8} {'-':>8}",
                  flush=True)
    finally:
        if args.keep:
            print(f"kept {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)

    print("-" * len(header))
    if ratios:
        geo = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
        print(f"geometric-mean speed-up over {len(ratios)} small inputs: {geo:.2f}x")
    print(f"bench time {time.perf_counter() - started:.1f}s")
    if failures:
        print(f"\n{len(failures)} FAILURE(S):")
        for f in failures:
            print("  " + f)
        return 1
    print("all outputs identical" + (" and as expected" if scale_names else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
