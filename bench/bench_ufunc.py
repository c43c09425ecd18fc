"""Timing table of kiv's ufuncs and gufuncs against numpy, on one and two pool threads.

Every figure comes from this one run: each thread count runs in a subprocess of its own
(RAYON_NUM_THREADS), and numpy is timed in each of them beside kiv. Times are the best of N calls, so
the ratios hold up on a shared, noisy machine; peak memory is traced with tracemalloc (numpy reports its
array allocations to it).

    python bench/bench_ufunc.py [--repeat N] [--quick]
"""

import argparse
import json
import os
import subprocess
import sys
import time
import tracemalloc

import numpy as np


CPU = {}  # id of the call -> best process CPU time, kept beside the wall time


def best_of(f, repeat):
    """Best wall time of repeat calls (and, in CPU, the best CPU time of the process over one call: on a
    shared machine a single thread's CPU time is what contention does not inflate)."""
    f()  # warm: pages of the output touched once, pool started
    times, cpu = [], []
    for _ in range(repeat):
        start, cstart = time.perf_counter(), time.process_time()
        f()
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - cstart)
    CPU[len(CPU)] = min(cpu)
    return min(times)


def peak_bytes(f):
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        result = f()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    del result
    return peak


# Octonion unit table as a structure tensor: e_i e_j = T[i, j, k] e_k.
def octonion_tensor():
    import kiv

    t = np.zeros((8, 8, 8))
    e = np.eye(8)
    for i in range(8):
        for j in range(8):
            t[i, j] = kiv.octonion_mul(e[i], e[j])
    return t


def geometric_tables(signature):
    """For each left blade i: the result index i ^ j of every right blade j and the sign (with the
    metric) of e_i e_j, precomputed once."""
    n = 1 << len(signature)
    perm = np.empty((n, n), dtype=np.intp)
    sign = np.empty((n, n))
    for i in range(n):
        for j in range(n):
            s = 1.0
            for m in range(len(signature)):
                if (j >> m) & 1:
                    if bin(i >> (m + 1)).count("1") % 2:
                        s = -s
                    if (i >> m) & 1:
                        s *= signature[m]
            perm[i, j] = i ^ j
            sign[i, j] = s
    return perm, sign


def numpy_geometric(a, b, perm, sign):
    """Dense geometric product, vectorised over pairs: one pass per left blade."""
    out = np.zeros_like(a)
    for i in range(a.shape[1]):
        out[:, perm[i]] += a[:, i : i + 1] * (b * sign[i])
    return out


def worker(repeat, quick):
    import kiv

    rng = np.random.default_rng(0)
    n = 10**6 if quick else 10**7
    x = rng.normal(0, 5, n)
    y = rng.random(n) + 0.1
    r = {}
    r["exp"] = (best_of(lambda: np.exp(x), repeat), best_of(lambda: kiv.exp(x), repeat))
    r["tension"] = (best_of(lambda: np.exp(x) - np.log(y), repeat), best_of(lambda: kiv.tension(x, y), repeat))
    r["add"] = (best_of(lambda: np.add(x, y), repeat), best_of(lambda: kiv.add(x, y), repeat))

    pairs = 10**5 if quick else 10**6
    a = rng.normal(size=(pairs, 8))
    b = rng.normal(size=(pairs, 8))
    t = octonion_tensor()
    assert np.allclose(np.einsum("pi,pj,ijk->pk", a[:100], b[:100], t), kiv.octonion_mul(a[:100], b[:100]))
    r["octonion"] = (
        best_of(lambda: np.einsum("pi,pj,ijk->pk", a, b, t, optimize=True), min(repeat, 3)),
        best_of(lambda: kiv.octonion_mul(a, b), repeat),
    )
    for signature in ([1, 1, 1], [1, -1, -1, -1]):
        dim = 1 << len(signature)
        ga = rng.normal(size=(10**5, dim))
        gb = rng.normal(size=(10**5, dim))
        perm, sign = geometric_tables(signature)
        assert np.allclose(numpy_geometric(ga[:50], gb[:50], perm, sign), kiv.geometric_product(ga[:50], gb[:50], signature))
        r[f"geometric {signature}"] = (
            best_of(lambda: numpy_geometric(ga, gb, perm, sign), min(repeat, 3)),  # seconds a call
            best_of(lambda: kiv.geometric_product(ga, gb, signature), repeat),
        )

    r["cpu"] = dict(CPU)  # in the order measured: numpy then kiv, per case

    # Where the pool takes over: run lengths on both sides of the thresholds.
    sizes = [1 << k for k in range(10, 21)]
    r["sizes"] = sizes
    for name in ("exp", "tension", "add"):
        f = getattr(kiv, name)
        args = [rng.random(sizes[-1]) + 0.5 for _ in range(f.nin)]
        out = np.empty(sizes[-1])
        r[f"run {name}"] = [
            best_of(lambda m=m: f(*[v[:m] for v in args], out=out[:m]), max(repeat, 20)) for m in sizes
        ]

    m = 10**6
    mx, my = x[:m].copy(), y[:m].copy()
    out_bytes = m * 8
    r["memory"] = {
        "kiv.tension": peak_bytes(lambda: kiv.tension(mx, my)) / out_bytes,
        "np.exp - np.log": peak_bytes(lambda: np.exp(mx) - np.log(my)) / out_bytes,
        "kiv.exp": peak_bytes(lambda: kiv.exp(mx)) / out_bytes,
        "kiv.add (strided views)": peak_bytes(lambda: kiv.add(x[: 2 * m : 2], y[: 2 * m : 2])) / out_bytes,
    }
    print(json.dumps(r))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="calls per measurement (best taken)")
    parser.add_argument("--quick", action="store_true", help="10x smaller inputs")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker(args.repeat, args.quick)
        return

    runs = {}
    for threads in (1, 2):
        env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
        env["RAYON_NUM_THREADS"] = str(threads)
        cmd = [sys.executable, __file__, "--worker", "--repeat", str(args.repeat)] + (["--quick"] if args.quick else [])
        runs[threads] = json.loads(subprocess.run(cmd, env=env, check=True, capture_output=True, text=True).stdout)
    one, two = runs[1], runs[2]

    scale = "10^6" if args.quick else "10^7"
    pairs = "10^5" if args.quick else "10^6"
    rows = [
        ("exp", f"{scale} float64: kiv.exp vs np.exp", "<= 1.5x on 1 thread, < 1x on 2"),
        ("tension", f"{scale}: kiv.tension vs np.exp(x) - np.log(y)", ">= 1.5x faster on 1 thread"),
        ("add", f"{scale}: kiv.add vs np.add", "<= 1.2x"),
        ("octonion", f"octonion product, {pairs} pairs vs np.einsum", ">= 5x faster"),
        ("geometric [1, 1, 1]", "geometric [1,1,1], 10^5 pairs vs numpy tables", "beat it on 2 threads"),
        ("geometric [1, -1, -1, -1]", "geometric [1,-1,-1,-1], 10^5 pairs vs numpy tables", "beat it on 2 threads"),
    ]
    print(f"best of {args.repeat}; ratio = kiv time / numpy time (below 1: kiv faster)\n")
    print("cpu ratio = kiv CPU time / numpy CPU time on one thread (contention does not inflate it)\n")
    head = (f"{'case':<52} {'numpy ms':>9} {'kiv 1T ms':>10} {'ratio':>6} {'cpu ratio':>9} {'kiv 2T ms':>10} "
            f"{'ratio':>6}  target")
    print(head)
    print("-" * len(head))
    for index, (key, label, target) in enumerate(rows):
        base = min(one[key][0], two[key][0])  # numpy's own best, from both processes
        k1, k2 = one[key][1], two[key][1]
        cpu = one["cpu"][str(2 * index + 1)] / one["cpu"][str(2 * index)]
        print(f"{label:<52} {base * 1e3:9.2f} {k1 * 1e3:10.2f} {k1 / base:6.2f} {cpu:9.2f} {k2 * 1e3:10.2f} "
              f"{k2 / base:6.2f}  {target}")

    print("\npeak traced memory during one call, in units of the output array (10^6 float64)")
    for name, value in one["memory"].items():
        print(f"  {name:<28} {value:5.2f}")

    print("\nrun length where the pool takes over: kiv time on 1 and 2 threads (out= given)")
    print(f"{'elements':>9} " + " ".join(f"{n + ' 1T/2T us':>22}" for n in ("exp", "tension", "add")))
    for idx, size in enumerate(one["sizes"]):
        cells = []
        for name in ("exp", "tension", "add"):
            t1, t2 = one[f"run {name}"][idx], two[f"run {name}"][idx]
            cells.append(f"{t1 * 1e6:9.1f}/{t2 * 1e6:9.1f} {t1 / t2:4.2f}")
        print(f"{size:9d} " + " ".join(f"{c:>22}" for c in cells))


if __name__ == "__main__":
    main()
