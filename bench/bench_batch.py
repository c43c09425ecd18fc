"""Element-wise batch functions on lists of 1,000,000 floats against the list round trip, numpy and math.

Prints a table of best-of-N wall times and their ratio to the bare round trip array('d', xs).tolist(),
all measured in this process, then the peak-memory growth of each call measured in a fresh process.
"""

import array
import math
import os
import subprocess
import sys

import kiv_core
from _timing import best_time

try:
    import numpy as np
except ImportError:  # numpy rows are skipped without it
    np = None

N = 1_000_000
REPEAT = 7


def main():
    xs = [(i % 1000) / 100.0 - 5.0 for i in range(N)]
    ys = [(i % 997) / 50.0 + 0.5 for i in range(N)]
    rows = [
        ("round trip array('d', xs).tolist()", lambda: array.array("d", xs).tolist()),
        ("exp_n(xs)", lambda: kiv_core.exp_n(xs)),
        ("tension_n(xs, ys)", lambda: kiv_core.tension_n(xs, ys)),
        ("add_n(xs, ys)", lambda: kiv_core.add_n(xs, ys)),
        ("[math.exp(x) for x in xs]", lambda: [math.exp(x) for x in xs]),
        ("[math.exp(x) - math.log(y) ...]", lambda: [math.exp(x) - math.log(y) for x, y in zip(xs, ys)]),
        ("[x + y for x, y in zip(xs, ys)]", lambda: [x + y for x, y in zip(xs, ys)]),
    ]
    if np is not None:
        rows += [
            ("np.exp(np.asarray(xs)).tolist()", lambda: np.exp(np.asarray(xs)).tolist()),
            ("(np.exp(a) - np.log(b)).tolist()", lambda: (np.exp(np.asarray(xs)) - np.log(np.asarray(ys))).tolist()),
            ("(np.asarray(a) + np.asarray(b)).tolist()", lambda: (np.asarray(xs) + np.asarray(ys)).tolist()),
        ]
    threads = os.environ.get("RAYON_NUM_THREADS", "default")
    print(f"{N:,} floats, best of {REPEAT}, RAYON_NUM_THREADS={threads}")
    print(f"{'call':44s} {'ms':>8s} {'x round trip':>13s}")
    base = None
    for name, fn in rows:
        t = best_time(fn, REPEAT)
        base = base or t
        print(f"{name:44s} {t * 1e3:8.2f} {t / base:13.2f}")

    print()
    print("peak memory growth of one call (fresh process, MB):")
    for expr in ["array.array('d', xs).tolist()", "kiv_core.exp_n(xs)", "kiv_core.tension_n(xs, ys)",
                 "kiv_core.add_n(xs, ys)"]:
        print(f"  {expr:40s} {peak_growth(expr):8.1f}")
    print(f"  (one list of {N:,} new floats is about {N * 32 / 2**20:.1f} MB, one native vector {N * 8 / 2**20:.1f} MB)")


def peak_growth(expr):
    """Growth of the resident set's high-water mark over one call, measured in a fresh process after
    resetting the mark (Linux's clear_refs), so that earlier set-up does not hide it."""
    script = f"""
import array, kiv_core
kiv_core.exp_n([0.0] * 100000)
xs = [(i % 1000) / 100.0 - 5.0 for i in range({N})]
ys = [(i % 997) / 50.0 + 0.5 for i in range({N})]
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1])
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status("VmRSS:")
r = {expr}
print((status("VmHWM:") - before) / 1024)
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    return float(out.stdout)


if __name__ == "__main__":
    main()
