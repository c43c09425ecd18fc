"""exp and ln on the vector path against the C library, element by element: speed, and bitwise sweeps.

Every path runs in a process of its own (KIV_MATH is read once per process, at the first use).

    python bench/bench_vmath.py [speed] [--n N] [--repeat R] [--callgrind]
        The speed table, one pool thread: kiv.exp, kiv.ln and kiv.tension over N float64 elements (default
        10^7) on the path this machine chose and with KIV_MATH=libm, beside numpy's np.exp, np.log and
        np.exp(x) - np.log(y) and a memory copy (the floor of any one-pass loop); the default search (one
        variable, 200 rows) on both paths; the size and cost of the load-time check. Times are the best of
        R runs, ratios against the libm path of the same run; where numpy has AVX-512 kernels, numpy is
        also timed with them switched off (NPY_DISABLE_CPU_FEATURES), as it runs on an AVX2 machine. With
        --callgrind (and valgrind installed) the
        instructions of the same calls on both paths (valgrind runs the AVX2 replica: it has no AVX-512).
        Targets: exp and ln >= 2.5x and tension >= 2x their libm path; tension >= 1.5x numpy's exp - log
        where numpy calls the C library, and no slower where it has AVX-512 kernels of its own; the search
        >= 1.3x; the check under 10 ms.

    python bench/bench_vmath.py sweep [--count C]
        Bitwise sweeps of kiv.exp, kiv.ln and kiv.tension on every path this CPU can run, over random bit
        patterns and uniform draws (C of each) and dense runs of consecutive doubles at every boundary of
        the algorithms and the guards, every table slot's edges, subnormals and NaN payloads. Each path's
        bits are compared with those of the libm path, and (on the first 20,000 of each set) with the C
        library called through ctypes. Prints a table; exits 1 on any difference. The test command runs it
        with a modest count.
"""

import argparse
import ctypes
import ctypes.util
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import textwrap

import numpy as np

PATHS = ("avx512-fma", "avx2-fma", "avx2", "sse2")

# ---- bitwise sweeps ---------------------------------------------------------------------------------------

EXP_OVERFLOW = 709.782712893384
INV_LN2_N = float.fromhex("0x1.71547652b82fep7")  # 128 / ln 2 as the library rounds it
NEAR1_HI = float.fromhex("0x1.109p0")  # log takes its polynomial near 1 below this


def as_f64(bits):
    return np.asarray(bits, dtype=np.uint64).view(np.float64)


def runs(centres, half):
    """half consecutive doubles either side of each centre (and the centre), same sign as the centre."""
    c = np.asarray(centres, dtype=np.float64).view(np.uint64)
    offsets = np.arange(-half, half + 1, dtype=np.int64).astype(np.uint64)  # two's complement: adds wrap
    u = (c[:, None] + offsets[None, :]).ravel()
    same_sign = (u >> np.uint64(63)) == np.repeat(c >> np.uint64(63), len(offsets))
    return as_f64(u[same_sign])


def specials():
    nan_bits = [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF8000000000123, 0xFFFC0000DEADBEEF,
                0x7FF0000000000001, 0xFFF4000000000ABC, 0x7FFFFFFFFFFFFFFF]
    return np.concatenate([[0.0, -0.0, np.inf, -np.inf, 5e-324, -5e-324, 2.2250738585072014e-308,
                            1.7976931348623157e308, -1.7976931348623157e308], as_f64(nan_bits)])


def sweep_sets(count):
    """The named input sets of exp and ln, all deterministic."""
    rng = np.random.default_rng(20240519)
    run = max(count // 16, 8)
    k = rng.integers(-137_600, 131_000, count // 2)
    exp_sets = {
        "random bit patterns": as_f64(rng.integers(0, 2**64, count, dtype=np.uint64)),
        "uniform [-745.2, 709.8]": rng.uniform(-745.2, 709.8, count),
        "uniform [-40, 40]": rng.uniform(-40, 40, count),
        # Where the vector path, the replica's edge range, the libm lanes, the guard and the result's
        # range change: 2^-54, 512, 709, the guards' thresholds, ln of the largest double, of the smallest
        # normal, of the smallest subnormal and the point where exp rounds to 0.
        "boundaries, consecutive doubles": runs(
            [s * v for s in (1, -1) for v in (2.0**-54, 512.0, 709.0, 709.78, EXP_OVERFLOW, 708.3964185322641,
                                             744.4400719213812, 745.1332191019412, 1024.0)], run),
        "table slot edges (k + 1/2) ln2/128": runs((k + 0.5) / INV_LN2_N, 3),
        "tiny and subnormal": np.concatenate([runs([0.0], run), rng.uniform(-1, 1, count) * 2.0 ** -rng.integers(40, 1075, count)]),
        "zeros, infinities, NaN payloads": specials(),
    }
    start = rng.integers(0, 128, count).astype(np.uint64) << np.uint64(45)
    expo = (rng.integers(-1021, 1024, count).astype(np.int64) << 52).astype(np.uint64)
    slot = as_f64(np.uint64(0x3FE6000000000000) + start + expo + rng.integers(-3, 4, count).astype(np.uint64))
    ln_sets = {
        "random bit patterns": as_f64(rng.integers(0, 2**64, count, dtype=np.uint64)),
        "uniform (0, 10)": rng.uniform(0, 10, count),
        "near 1, uniform": rng.uniform(1 - 2**-4, NEAR1_HI, count),
        "boundaries, consecutive doubles": runs([1.0, 1 - 2**-4, NEAR1_HI, 2.2250738585072014e-308, 1e-300,
                                                 0.6875, 2.0, 1.7976931348623157e308 / 2, -1.0], run),
        "table slot edges": slot[np.isfinite(slot) & (slot > 0)],
        "subnormal": as_f64(rng.integers(1, 2**52, count, dtype=np.uint64) >> rng.integers(0, 52, count).astype(np.uint64)),
        "zeros, infinities, NaN payloads": specials(),
    }
    return exp_sets, ln_sets


CHILD = textwrap.dedent("""
    import json, sys, numpy as np, kiv
    sys.path.insert(0, sys.argv[1])
    from bench_vmath import sweep_sets
    exp_sets, ln_sets = sweep_sets(int(sys.argv[2]))
    out = {}
    for name, x in exp_sets.items():
        out["exp: " + name] = kiv.exp(x)
    for name, y in ln_sets.items():
        out["ln: " + name] = kiv.ln(y)
    xs = np.concatenate(list(exp_sets.values())); ys = np.concatenate(list(ln_sets.values()))
    m = min(len(xs), len(ys))
    out["tension: the sets paired"] = kiv.tension(xs[:m], ys[:m])
    np.savez(sys.argv[3], **{k: v.view(np.uint64) for k, v in out.items()})
    print(json.dumps(kiv._native._math_check()))
""")


def libm_reference(exp_sets, ln_sets, limit):
    """kiv.exp and kiv.ln written out in Python over the C library's exp and log, through ctypes."""
    libm = ctypes.CDLL(ctypes.util.find_library("m"))
    for f in (libm.exp, libm.log):
        f.restype, f.argtypes = ctypes.c_double, [ctypes.c_double]

    def gexp(v):
        return libm.exp(libm.log(v) if v > EXP_OVERFLOW else v)

    def gln(v):
        v = abs(v) if v <= 0.0 else v
        return -690.7755278982137 if v == 0.0 else libm.log(v)

    ref = {}
    for name, x in exp_sets.items():
        ref["exp: " + name] = np.array([gexp(v) for v in x[:limit]]).view(np.uint64)
    for name, y in ln_sets.items():
        ref["ln: " + name] = np.array([gln(v) for v in y[:limit]]).view(np.uint64)
    return ref


def sweep(count):
    here = str(pathlib.Path(__file__).resolve().parent)
    exp_sets, ln_sets = sweep_sets(count)
    results, reports = {}, {}
    with tempfile.TemporaryDirectory() as tmp:
        for path in ("libm",) + PATHS:
            file = os.path.join(tmp, path + ".npz")
            env = dict(os.environ, KIV_MATH=path, RAYON_NUM_THREADS="2")
            p = subprocess.run([sys.executable, "-c", CHILD, here, str(count), file], env=env, capture_output=True,
                               text=True, timeout=1800)
            if p.returncode != 0:
                sys.exit(f"{path}: the sweep failed:\n{p.stderr}")
            reports[path] = json.loads(p.stdout)
            with np.load(file) as z:
                results[path] = {k: z[k] for k in z.files}
    ref = libm_reference(exp_sets, ln_sets, 20_000)
    failed = False
    ran = [p for p in PATHS if reports[p][0] == p]
    print(f"paths run: {', '.join(ran) or 'none'}; turned down or not offered: "
          f"{', '.join(p for p in PATHS if p not in ran) or 'none'} (those fell back to the libm path)")
    print(f"{'set':<46}{'size':>9}" + "".join(f"{p:>12}" for p in ("libm",) + tuple(ran)))
    for name, base in results["libm"].items():
        cells = []
        r = ref.get(name)
        bad = int(np.count_nonzero(base[: len(r)] != r)) if r is not None else 0
        cells.append("ok" if bad == 0 else f"{bad} differ")
        failed |= bad > 0
        for p in ran:
            got = results[p][name]
            bad = int(np.count_nonzero(got != base))
            if r is not None:
                bad += int(np.count_nonzero(got[: len(r)] != r))
            cells.append("ok" if bad == 0 else f"{bad} differ")
            failed |= bad > 0
        print(f"{name:<46}{len(base):>9}" + "".join(f"{c:>12}" for c in cells))
    total = sum(len(v) for v in results["libm"].values())
    print(f"{total} elements per path; libm compared with the C library through ctypes on up to 20,000 per "
          f"set, each replica with the libm path on all and with the C library on those")
    return 1 if failed else 0


# ---- speed ------------------------------------------------------------------------------------------------

SPEED = textwrap.dedent("""
    import json, math, sys, time
    import numpy as np, kiv, kiv_core
    n, repeat = int(sys.argv[1]), int(sys.argv[2])
    rng = np.random.default_rng(1)
    x = rng.uniform(-10.0, 10.0, n); y = rng.uniform(0.0, 10.0, n); o = np.empty(n)

    def best(f):
        # Best wall time and best CPU time of the process (one thread: what contention on a shared machine
        # does not inflate).
        f(); b, c = math.inf, math.inf
        for _ in range(repeat):
            t, p = time.perf_counter(), time.process_time(); f()
            b, c = min(b, time.perf_counter() - t), min(c, time.process_time() - p)
        return b, c

    r = {"path": kiv._native._math_check()}
    r["kiv.exp"] = best(lambda: kiv.exp(x, out=o))
    r["kiv.ln"] = best(lambda: kiv.ln(y, out=o))
    r["kiv.tension"] = best(lambda: kiv.tension(x, y, out=o))
    r["np.exp"] = best(lambda: np.exp(x, out=o))
    r["np.log"] = best(lambda: np.log(y, out=o))
    r["np.exp(x) - np.log(y)"] = best(lambda: np.exp(x) - np.log(y))
    r["copy"] = best(lambda: np.copyto(o, x))
    g = (lambda s: [((s := (s * 6364136223846793005 + 1442695040888963407) % 2**64) >> 11) / 2**53
                    for _ in range(200)])(42)
    x0 = [0.1 + 3.9 * i / 199.0 for i in range(200)]
    t = [math.sin(3.7 * v) + 0.3 * v ** 3 + 0.05 * (2 * u - 1) for v, u in zip(x0, g)]
    r["search 1 x 200"] = best(lambda: kiv_core.find_formula([x0], t))
    print(json.dumps(r))
""")

# The calls counted under callgrind: the same work, once, on a smaller array; collection is switched on only
# inside the core's batch kernel and the search, so the interpreter's start does not count.
COUNTED = textwrap.dedent("""
    import math, sys
    import numpy as np, kiv, kiv_core
    n = int(sys.argv[1])
    rng = np.random.default_rng(1)
    x = rng.uniform(-10.0, 10.0, n); y = rng.uniform(0.0, 10.0, n); o = np.empty(n)
    {call}
""")
COUNTED_CALLS = {
    "kiv.exp": ("kiv.exp(x, out=o)", "kiv::batch::apply_strided*"),
    "kiv.ln": ("kiv.ln(y, out=o)", "kiv::batch::apply_strided*"),
    "kiv.tension": ("kiv.tension(x, y, out=o)", "kiv::batch::apply_strided*"),
    "search 1 x 200": ("g = (lambda s: [((s := (s * 6364136223846793005 + 1442695040888963407) % 2**64) >> 11) / 2**53 "
                       "for _ in range(200)])(42); x0 = [0.1 + 3.9 * i / 199.0 for i in range(200)]; "
                       "kiv_core.find_formula([x0], [math.sin(3.7 * v) + 0.3 * v ** 3 + 0.05 * (2 * u - 1) "
                       "for v, u in zip(x0, g)])", "kiv::discover::beam_search*"),
}


def instructions(name, path, n):
    call, fn = COUNTED_CALLS[name]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        env = dict(os.environ, KIV_MATH=path, RAYON_NUM_THREADS="1", PYTHONHASHSEED="0")
        p = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", f"--toggle-collect={fn}",
                            sys.executable, "-c", COUNTED.format(call=call), str(n)],
                           env=env, capture_output=True, text=True, timeout=3600)
        if p.returncode != 0:
            sys.exit(p.stderr)
        for line in open(out):
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    return 0


def numpy_avx512_features():
    """numpy's dispatch targets with AVX-512 kernels active here (its exp and log have such kernels only)."""
    try:
        from numpy._core._multiarray_umath import __cpu_dispatch__, __cpu_features__
    except ImportError:
        return []
    return [t for t in __cpu_dispatch__ if ("AVX512" in t or t == "X86_V4") and __cpu_features__.get(t)]


def speed(n, repeat, callgrind):
    runs_ = {}
    cases = {"auto": {"KIV_MATH": "auto"}, "libm": {"KIV_MATH": "libm"}}
    avx512 = numpy_avx512_features()
    if avx512:
        # numpy as on a machine without AVX-512, where its exp and log call the C library.
        cases["numpy-libm"] = {"KIV_MATH": "auto", "NPY_DISABLE_CPU_FEATURES": " ".join(avx512)}
    for case, extra in cases.items():
        env = dict(os.environ, RAYON_NUM_THREADS="1", **extra)
        p = subprocess.run([sys.executable, "-c", SPEED, str(n), str(repeat)], env=env, capture_output=True,
                           text=True, timeout=3600)
        if p.returncode != 0:
            sys.exit(p.stderr)
        runs_[case] = json.loads(p.stdout)
    fast, libm = runs_["auto"], runs_["libm"]
    name, reason, inputs, seconds = fast["path"]
    print(f"path {name}{' (' + reason + ')' if reason else ''}; {n:,} float64 elements, 1 thread, best of {repeat}")
    print("times in ms, wall (CPU time of the process); ratios of wall times (of CPU times)")
    print(f"{'call':<24}{'vector':>16}{'libm':>16}{'libm/vector':>18}{'/ copy':>16}")

    def cell(t):
        return f"{t[0] * 1e3:.1f} ({t[1] * 1e3:.1f})"

    def ratio(a, b):
        return f"{a[0] / b[0]:.2f}x ({a[1] / b[1]:.2f}x)"

    for k in ("kiv.exp", "kiv.ln", "kiv.tension"):
        print(f"{k:<24}{cell(fast[k]):>16}{cell(libm[k]):>16}{ratio(libm[k], fast[k]):>18}{ratio(fast[k], fast['copy']):>16}")
    for k in ("np.exp", "np.log", "np.exp(x) - np.log(y)", "copy"):
        print(f"{k:<24}{cell(fast[k]):>16}{'':>16}{'':>18}{ratio(fast[k], fast['copy']):>16}")
    print(f"kiv.tension against np.exp(x) - np.log(y): {ratio(fast['np.exp(x) - np.log(y)'], fast['kiv.tension'])}"
          f"{' (numpy with its AVX-512 kernels)' if avx512 else ''}")
    if avx512:
        other = runs_["numpy-libm"]
        print(f"numpy without its AVX-512 kernels (NPY_DISABLE_CPU_FEATURES, as on an AVX2 machine): np.exp "
              f"{cell(other['np.exp'])}, np.log {cell(other['np.log'])}, np.exp(x) - np.log(y) "
              f"{cell(other['np.exp(x) - np.log(y)'])} ms; kiv.tension against it "
              f"{ratio(other['np.exp(x) - np.log(y)'], other['kiv.tension'])}")
    s_fast, s_libm = fast["search 1 x 200"], libm["search 1 x 200"]
    print(f"search 1 x 200 (find_formula): vector {cell(s_fast)} ms, libm {cell(s_libm)} ms, {ratio(s_libm, s_fast)}")
    print(f"load-time check: {inputs:,} inputs, {seconds * 1e3:.2f} ms (the choice of the path, check included)")
    if callgrind:
        small = min(n, 200_000)
        print(f"instructions under callgrind ({small:,} elements; the search as above):")
        for k in COUNTED_CALLS:
            v, l = instructions(k, "auto", small), instructions(k, "libm", small)
            print(f"  {k:<24}{v:>14,} vector{l:>16,} libm{l / max(v, 1):>8.2f}x")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", nargs="?", default="speed", choices=("speed", "sweep"))
    ap.add_argument("--n", type=int, default=10**7)
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--count", type=int, default=1_000_000)
    ap.add_argument("--callgrind", action="store_true")
    args = ap.parse_args()
    if args.mode == "sweep":
        sys.exit(sweep(args.count))
    speed(args.n, args.repeat, args.callgrind)


if __name__ == "__main__":
    main()
