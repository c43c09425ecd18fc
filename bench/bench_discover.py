"""Formula-discovery benchmark: the fast search against the literal reference search, at 1 and 2 threads.

Runs the C++ driver bench_discover (built with -DKIV_BUILD_TESTS=ON) in its own process per case and thread
count, since the worker pool reads RAYON_NUM_THREADS when it is first used:
  - one process runs the fast search and then the literal one on the same data: the "same-process" speed-up;
  - further processes run only the fast search (best of several runs, over several rounds interleaving the
    thread counts, so a busy machine shows up as noise rather than as a trend): the best fast time, the
    1 -> 2 thread scaling and the fast search's own peak memory.
When the kiv_core module is importable from BUILD_DIR, find_formula itself is timed the same way.
Last, the search's hooks: the fast search with its stop flag, deadline and progress callback armed (never
firing) against the plain one in the same process, and the worst delay of a stop request on 20,000 rows.

Cases (default settings of find_formula; targets that no formula fits exactly, so all 7 levels run):
  a: 1 variable x 200 rows          b: 3 variables x 1,000 rows

Usage: python bench/bench_discover.py [BUILD_DIR] [--rounds N] [--repeats N]
Targets: fast >= 10x literal at 2 threads on both cases; fast at 2 threads >= 1.6x fast at 1 thread;
armed hooks cost nothing measurable; a stop takes effect within 50 ms.
"""

import argparse
import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# The same data as the driver's make_case, for timing find_formula from Python.
PY_CASES = r'''
import math, time, resource, sys
import kiv_core

def lcg(seed):
    s = seed
    while True:
        s = (s * 6364136223846793005 + 1442695040888963407) % 2**64
        yield (s >> 11) / 9007199254740992.0

def make(case):
    g = lcg(42)
    nxt = lambda lo, hi: lo + (hi - lo) * next(g)
    if case == "a":
        x0 = [0.1 + 3.9 * i / 199.0 for i in range(200)]
        y = [math.sin(3.7 * v) + 0.3 * v * v * v + 0.05 * nxt(-1.0, 1.0) for v in x0]
        return [x0], y
    cols = [[], [], []]
    for _ in range(1000):
        cols[0].append(nxt(0.1, 4.0)); cols[1].append(nxt(-2.0, 2.0)); cols[2].append(nxt(0.5, 3.0))
    y = [math.sin(a * b) + 0.3 * c * c * a - math.cos(b) / c + 0.05 * nxt(-1.0, 1.0)
         for a, b, c in zip(*cols)]
    return cols, y

x, y = make(sys.argv[1])
best = None
for _ in range(int(sys.argv[2])):
    t0 = time.perf_counter()
    r = kiv_core.find_formula(x, y)
    dt = time.perf_counter() - t0
    best = dt if best is None else min(best, dt)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(f"seconds={best:.4f} peak_kib={peak} score={r.error!r} formula={r.formula}")
'''


def parse(line):
    head, _, formula = line.partition(" formula=")
    fields = dict(part.split("=", 1) for part in head.split())
    fields["formula"] = formula
    return fields


def run(cmd, threads, extra_env=None):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads), **(extra_env or {}))
    proc = subprocess.run(cmd, env=env, capture_output=True, text=True)
    if proc.returncode != 0:
        return None
    return [parse(line) for line in proc.stdout.strip().splitlines()]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default=str(ROOT / "build" / "dev"))
    ap.add_argument("--rounds", type=int, default=3, help="fast-only rounds per case and thread count")
    ap.add_argument("--repeats", type=int, default=5, help="fast runs per process (best kept)")
    args = ap.parse_args()
    build = pathlib.Path(args.build)
    driver = build / "bench_discover"
    if not driver.exists():
        sys.exit(f"{driver} not found: configure with -DKIV_BUILD_TESTS=ON and build bench_discover")
    py_env = {"PYTHONPATH": str(build) + os.pathsep + os.environ.get("PYTHONPATH", "")}

    cases, threads_list = ("a", "b"), (1, 2)
    same, fast_best, fast_peak, py_best, py_peak = {}, {}, {}, {}, {}
    for case in cases:
        for threads in threads_list:
            rows = run([str(driver), case, "fast,literal", "1"], threads)
            same[case, threads] = {r["impl"]: r for r in rows}
    for _ in range(args.rounds):
        for case in cases:
            for threads in threads_list:
                (r,) = run([str(driver), case, "fast", str(args.repeats)], threads)
                key = case, threads
                fast_best[key] = min(fast_best.get(key, 1e9), float(r["seconds"]))
                fast_peak[key] = int(r["peak_kib"])
                assert (r["formula"], r["score"]) == (same[key]["literal"]["formula"], same[key]["literal"]["score"])
                p = run([sys.executable, "-c", PY_CASES, case, str(args.repeats)], threads, py_env)
                if p:
                    py_best[key] = min(py_best.get(key, 1e9), float(p[0]["seconds"]))
                    py_peak[key] = int(p[0]["peak_kib"])
                    assert p[0]["formula"] == r["formula"] and float(p[0]["score"]) == float(r["score"])

    print(f"{'case':<5}{'thr':>4}{'literal s':>11}{'fast s':>9}{'same-proc':>11}{'best fast s':>13}"
          f"{'literal/best':>14}{'find_formula s':>16}{'peak fast MiB':>15}{'peak fast+lit MiB':>19}"
          f"{'peak py MiB':>13}")
    for case in cases:
        for threads in threads_list:
            key = case, threads
            lit, fast = float(same[key]["literal"]["seconds"]), float(same[key]["fast"]["seconds"])
            best = fast_best[key]
            py = f"{py_best[key]:.4f}" if key in py_best else "n/a"
            pyp = f"{py_peak[key] / 1024:.1f}" if key in py_peak else "n/a"
            print(f"{case:<5}{threads:>4}{lit:>11.4f}{fast:>9.4f}{lit / fast:>10.1f}x{best:>13.4f}{lit / best:>13.1f}x"
                  f"{py:>16}{fast_peak[key] / 1024:>15.1f}{int(same[key]['literal']['peak_kib']) / 1024:>19.1f}"
                  f"{pyp:>13}")
    for case in cases:
        r = same[case, 1]["fast"]
        line = f"case {case}: best fast 1 -> 2 threads {fast_best[case, 1] / fast_best[case, 2]:.2f}x"
        if (case, 1) in py_best and (case, 2) in py_best:
            line += f"; find_formula 1 -> 2 threads {py_best[case, 1] / py_best[case, 2]:.2f}x"
        print(line + f"; result {r['formula']} (score {float(r['score']):.6g}), same for both implementations")

    for threads in threads_list:
        rows = {r["impl"]: r for r in run([str(driver), "a", "fast,hooked,fast,hooked", str(args.repeats)], threads)}
        assert rows["hooked"]["formula"] == rows["fast"]["formula"]
        (stop,) = run([str(driver), "c", "stop", str(args.repeats)], threads)
        print(f"{threads} thread(s): hooked/plain time on case a {float(rows['hooked']['seconds']) / float(rows['fast']['seconds']):.3f}; "
              f"worst stop delay on 1 x 20,000 rows over {args.repeats} stops {float(stop['seconds']) * 1000:.1f} ms")


if __name__ == "__main__":
    main()
