"""Formula-discovery benchmark: the fast search against the literal reference search, at 1 and 2 threads.

Runs the C++ driver bench_discover (built with -DKIV_BUILD_TESTS=ON) once per case and thread count, each in
its own process, since the worker pool reads RAYON_NUM_THREADS when it is first used. Within one process the
driver times the fast search and then the literal one on the same data, so the speed-up column compares runs
of the same process. When the kiv_core module is importable, find_formula itself is timed too (default
settings, same data) in a subprocess per thread count.

Cases (default settings of find_formula; targets that no formula fits exactly, so all 7 levels run):
  a: 1 variable x 200 rows
  b: 3 variables x 1,000 rows

Usage: python bench/bench_discover.py [BUILD_DIR] [--repeats N]
Targets: fast >= 10x literal at 2 threads on both cases; fast at 2 threads >= 1.6x fast at 1 thread.
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
print(f"seconds={best:.4f} peak_kib={peak} formula={r.formula} error={r.error!r}")
'''


def parse(line):
    fields = {}
    for part in line.split(" "):
        if "=" in part and not fields.get("formula"):
            k, v = part.split("=", 1)
            fields[k] = v
        elif fields.get("formula") is not None:
            fields["formula"] += " " + part
    return fields


def run_driver(driver, case, threads, repeats):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    out = subprocess.run([str(driver), case, "fast,literal", str(repeats)], env=env, check=True,
                         capture_output=True, text=True).stdout
    rows = {}
    for line in out.strip().splitlines():
        f = parse(line)
        rows[f["impl"]] = f
    return rows


def run_python(build, case, threads, repeats):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads),
               PYTHONPATH=str(build) + os.pathsep + os.environ.get("PYTHONPATH", ""))
    proc = subprocess.run([sys.executable, "-c", PY_CASES, case, str(repeats)], env=env,
                          capture_output=True, text=True)
    if proc.returncode != 0:
        return None
    return parse(proc.stdout.strip())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default=str(ROOT / "build" / "dev"))
    ap.add_argument("--repeats", type=int, default=3, help="best of N runs of each search (default 3)")
    args = ap.parse_args()
    build = pathlib.Path(args.build)
    driver = build / "bench_discover"
    if not driver.exists():
        sys.exit(f"{driver} not found: configure with -DKIV_BUILD_TESTS=ON and build bench_discover")

    print(f"{'case':<5}{'threads':>8}{'literal s':>11}{'fast s':>9}{'speed-up':>10}"
          f"{'peak fast MiB':>15}{'peak lit MiB':>14}{'py find_formula s':>19}  result")
    fast_time = {}
    for case in ("a", "b"):
        for threads in (1, 2):
            rows = run_driver(driver, case, threads, args.repeats)
            fast, lit = rows["fast"], rows["literal"]
            same = (fast["formula"], fast["score"]) == (lit["formula"], lit["score"])
            tf, tl = float(fast["seconds"]), float(lit["seconds"])
            fast_time[case, threads] = tf
            py = run_python(build, case, threads, args.repeats)
            py_s = f"{float(py['seconds']):.4f}" if py else "n/a"
            print(f"{case:<5}{threads:>8}{tl:>11.4f}{tf:>9.4f}{tl / tf:>9.1f}x"
                  f"{int(fast['peak_kib']) / 1024:>15.1f}{int(lit['peak_kib']) / 1024:>14.1f}{py_s:>19}  "
                  f"{fast['formula']} (score {float(fast['score']):.6g}){'' if same else '  MISMATCH'}")
    for case in ("a", "b"):
        print(f"case {case}: fast 1 -> 2 threads: {fast_time[case, 1] / fast_time[case, 2]:.2f}x")
    print("peak lit MiB is the process peak after the fast run and then the literal run.")


if __name__ == "__main__":
    main()
