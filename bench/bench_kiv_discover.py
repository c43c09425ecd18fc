"""kiv.discover against kiv_core.find_formula, Formula.evaluate against numpy, and Ctrl-C latency.

    python bench/bench_kiv_discover.py [--quick] [--instructions]

Prints three tables:
1. the time kiv.discover adds to kiv_core.find_formula on the same data (default settings; kiv.discover
   gets an (n_samples, n_features) array and includes its validation and conversion, find_formula gets
   lists of columns). Runs alternate; the best of each side is compared (wall and process CPU time).
2. Formula.evaluate on 10^6 rows against numpy running the formula's to_python source.
3. The delay from SIGINT to KeyboardInterrupt in a child process running a long search, over 20 tries.
With --instructions (needs valgrind), table 1 is also measured in instructions, which the machine's load does
not change: callgrind counts for a child that only prepares the data, one that also runs find_formula and
one that also runs kiv.discover, on one thread (the 3 x 1000 case takes several minutes).
"""

import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

import numpy as np

import kiv
import kiv_core

QUICK = "--quick" in sys.argv


def best_of(fn, runs):
    walls, cpus = [], []
    for _ in range(runs):
        w, c = time.perf_counter(), time.process_time()
        fn()
        walls.append(time.perf_counter() - w)
        cpus.append(time.process_time() - c)
    return min(walls), min(cpus)


def overhead():
    print("1. kiv.discover vs kiv_core.find_formula (default settings, best of alternating runs)")
    print(f"{'data':>12} {'find_formula s':>15} {'discover s':>11} {'wall ratio':>11} {'cpu ratio':>10}  same")
    rng = np.random.default_rng(0)
    for k, n, runs in ((1, 200, 3 if QUICK else 9), (3, 1000, 1 if QUICK else 5)):
        X = rng.uniform(0.5, 3, (n, k))
        y = np.sin(X[:, 0]) * 1.7 + X[:, -1] ** 0.3 + rng.normal(size=n) * 0.05
        cols = [X[:, j].tolist() for j in range(k)]
        yl = y.tolist()
        core = [float("inf"), float("inf")]
        mine = [float("inf"), float("inf")]
        for _ in range(runs):  # alternate, so that the machine's load hits both sides alike
            w, c = best_of(lambda: kiv_core.find_formula(cols, yl), 1)
            core = [min(core[0], w), min(core[1], c)]
            w, c = best_of(lambda: kiv.discover(X, y), 1)
            mine = [min(mine[0], w), min(mine[1], c)]
        same = kiv.discover(X, y).tokens == kiv.Formula.from_result(kiv_core.find_formula(cols, yl)).tokens
        print(f"{f'{k} x {n}':>12} {core[0]:>15.4f} {mine[0]:>11.4f} {mine[0] / core[0]:>11.3f} "
              f"{mine[1] / core[1]:>10.3f}  {same}")


def evaluate():
    print("\n2. Formula.evaluate on 10^6 rows vs numpy running to_python (best of 5)")
    rng = np.random.default_rng(1)
    X = rng.uniform(0.1, 3, (1_000_000, 3))
    print(f"{'formula':>34} {'evaluate ms':>12} {'numpy ms':>9} {'ratio':>6}")
    for text in ("kiv(x, y)", "(kiv(sin(x), sqrt(z)) + ln(z))", "((x * y) / exp((z - 1.0000)))"):
        f = kiv.Formula.parse(text, ["x", "y", "z"])
        ns = {}
        exec(f.to_python(), ns)
        t_eval, _ = best_of(lambda: f.evaluate(X), 5)
        t_np, _ = best_of(lambda: ns["f"](X), 5)
        print(f"{text:>34} {t_eval * 1e3:>12.1f} {t_np * 1e3:>9.1f} {t_eval / t_np:>6.2f}")
    print(f"   worker pool threads: {os.environ.get('RAYON_NUM_THREADS', 'default')}")


CHILD = r"""
import signal, sys, time
import numpy as np
import kiv
signal.signal(signal.SIGINT, signal.default_int_handler)  # a background start leaves SIGINT ignored
rng = np.random.default_rng(0)
X = rng.uniform(0.5, 3.0, (3000, 3)); y = rng.normal(size=3000)
print("ready", flush=True)
try:
    kiv.discover(X, y, max_complexity=14, beam_width=8000)  # runs for many seconds
    print("finished", flush=True)
except KeyboardInterrupt:
    print(repr(time.monotonic()), flush=True)
"""


def interrupt():
    tries = 5 if QUICK else 20
    print(f"\n3. SIGINT to KeyboardInterrupt during a search, {tries} tries")
    delays = []
    for i in range(tries):
        p = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, text=True)
        assert p.stdout.readline().strip() == "ready"
        time.sleep(0.5 + 0.05 * i)  # land at different points of the search
        sent = time.monotonic()
        p.send_signal(signal.SIGINT)
        out, _ = p.communicate(timeout=120)
        if out.strip() != "finished":  # else the signal came too late for this try
            delays.append(float(out.strip()) - sent)
    print(f"{'median ms':>10} {'worst ms':>9} {'tries':>6}")
    print(f"{statistics.median(delays) * 1e3:>10.1f} {max(delays) * 1e3:>9.1f} {len(delays):>6}")


INSTRUCTIONS_CHILD = r"""
import sys
import numpy as np
import kiv, kiv_core
k, n, what = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = np.random.default_rng(0)
X = rng.uniform(0.5, 3, (n, k))
y = np.sin(X[:, 0]) * 1.7 + X[:, -1] ** 0.3 + rng.normal(size=n) * 0.05
cols = [X[:, j].tolist() for j in range(k)]
yl = y.tolist()
if what == "core":
    kiv_core.find_formula(cols, yl)
elif what == "kiv":
    kiv.discover(X, y)
"""


def instructions():
    if not shutil.which("valgrind"):
        print("\n(valgrind not found: no instruction counts)")
        return
    print("\n1b. the same in instructions (callgrind, one thread; data preparation subtracted)")
    print(f"{'data':>12} {'find_formula':>14} {'discover':>14} {'ratio':>7}")
    env = dict(os.environ, PYTHONHASHSEED="0", RAYON_NUM_THREADS="1")
    for k, n in ((1, 200), (3, 1000)):
        counts = {}
        for what in ("none", "core", "kiv"):
            out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                                  "-c", INSTRUCTIONS_CHILD, str(k), str(n), what], env=env, capture_output=True,
                                 text=True)
            counts[what] = int(re.search(r"Collected : (\d+)", out.stderr).group(1))
        core, mine = counts["core"] - counts["none"], counts["kiv"] - counts["none"]
        print(f"{f'{k} x {n}':>12} {core:>14,} {mine:>14,} {mine / core:>7.4f}")


if __name__ == "__main__":
    overhead()
    if "--instructions" in sys.argv:
        instructions()
    evaluate()
    interrupt()
