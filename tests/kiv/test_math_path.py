"""exp and ln on the vector path: the same bits as the C library on every path, thread count and CPU
feature set, the load-time check that chooses the path, and kiv.math_path() reporting it."""

import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import kiv
from leaks import assert_no_leak
from procs import run_python

ROOT = pathlib.Path(__file__).resolve().parents[2]
REPLICAS = ("avx512-fma", "avx2-fma", "avx2", "sse2")
# The C library's loader picks its FMA build of exp and log only where these are usable; the tunable
# masks them (glibc 2.33 and later spell it so).
NO_AVX2 = {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"}


def cpu_flags():
    try:
        with open("/proc/cpuinfo") as f:
            return next((line.split(":", 1)[1].split() for line in f if line.startswith("flags")), [])
    except OSError:
        return []


HAS_AVX2_FMA = {"avx2", "fma"} <= set(cpu_flags())


def glibc_at_least(major, minor):
    try:
        name, version = os.confstr("CS_GNU_LIBC_VERSION").split()
    except (ValueError, OSError, AttributeError):
        return False
    return name == "glibc" and tuple(int(p) for p in version.split(".")[:2]) >= (major, minor)


# Everything that takes exp and ln in batch form, over data with special values, contiguous, strided, in
# place and as a running result; prints the path and a digest of every result's bits.
DIGEST = textwrap.dedent("""
    import hashlib, math, numpy as np, kiv, kiv_core
    rng = np.random.default_rng(19)
    n = 300_002
    special = np.array([0.0, -0.0, 5e-324, -1e-310, 1e-300, 0.9999999999999999, 1.0, 1.0625, 511.9, 512.0, 708.9,
                        709.0, 709.78, 709.782712893384, 709.79, 1024.0, -745.2, np.inf, -np.inf, np.nan,
                        np.frombuffer(np.uint64(0x7ff4000000000123).tobytes())[0], -1.0])
    pick = lambda: np.where(rng.random(n) < 0.1, rng.choice(special, n),
                            np.where(rng.random(n) < 0.5, rng.normal(0, 300, n), rng.uniform(0.9, 1.1, n)))
    a, b = pick(), pick()
    h = hashlib.sha256()
    for f in (kiv.exp, kiv.ln):
        h.update(f(a).tobytes()); h.update(f(a[::3]).tobytes())
        c = a.copy(); f(c, out=c); h.update(c.tobytes())
    h.update(kiv.tension(a, b).tobytes()); h.update(kiv.tension(a[::2], b[1::2]).tobytes())
    h.update(kiv.tension.accumulate(a[:5000] / 300).tobytes())
    xs, ys = a[:20_000].tolist(), b[:20_000].tolist()
    for r in (kiv_core.exp_n(xs), kiv_core.ln_n(ys), kiv_core.tension_n(xs, ys)):
        h.update(np.array(r).tobytes())
    pts = list(zip(xs, ys))
    h.update(np.array(kiv_core.boost_n(pts, ys, 1.5)).tobytes())
    h.update(np.array(kiv_core.christoffel_batch_n(pts, 1, 1, 1, 0.75)).tobytes())
    x0 = [0.1 + 3.9 * i / 199.0 for i in range(200)]
    r = kiv_core.find_formula([x0], [math.exp(v) - math.log(1 + v * v) + 0.01 * math.sin(9 * v) for v in x0],
                              use_kiv=True)
    h.update(repr((r.formula, r.error)).encode())
    f = kiv.discover(np.array(x0)[:, None], np.log(np.array(x0)) + np.exp(np.array(x0) / 4))
    h.update(repr((f.text, f.error)).encode()); h.update(f.evaluate(np.linspace(-2, 900, 4001)[:, None]).tobytes())
    print(kiv.math_path().split(" ")[0], h.hexdigest())
""")


def digest(path, threads, env=None):
    name, value = run_python(DIGEST, env_extra={"KIV_MATH": path, **(env or {})}, threads=threads).split()
    return name, value


def test_math_path_names_a_path_and_the_check_ran_once():
    name = kiv.math_path().split(" ")[0]
    assert name in REPLICAS + ("libm",)
    path, reason, inputs, seconds = kiv._native._math_check()
    assert path == name and (reason == "") == (kiv.math_path() == name)
    if os.environ.get("KIV_MATH", "auto") == "auto":
        assert inputs > 20_000 and seconds > 0.0
    # Chosen once: the report does not change.
    assert kiv._native._math_check() == (path, reason, inputs, seconds)


@pytest.mark.parametrize(
    "env, expected",
    [
        ({"KIV_MATH": "libm"}, "libm"),
        ({"KIV_MATH": "sse3"}, "libm (KIV_MATH=sse3 names no path (auto, libm, avx512-fma, avx2-fma, avx2, sse2))"),
    ],
)
def test_kiv_math_forces_the_library(env, expected):
    assert run_python("import kiv; print(kiv.math_path())", env_extra=env) == expected


def test_every_path_and_thread_count_gives_the_same_bits():
    results = {(path, threads): digest(path, threads) for path in ("auto", "libm") for threads in (1, 2, 3)}
    assert results["libm", 1][0] == "libm"
    if glibc_at_least(2, 28):  # exp and log are the algorithms the replicas copy: a replica is taken
        assert results["auto", 1][0] in REPLICAS
    assert len({value for _, value in results.values()}) == 1, results


@pytest.mark.skipif(not (HAS_AVX2_FMA and glibc_at_least(2, 33)), reason="needs AVX2, FMA and glibc >= 2.33")
def test_without_avx2_the_librarys_other_build_is_matched():
    # The library now runs its build without FMA: the FMA replicas are turned down, a replica of the other
    # build (or the library itself) is used, and the results are still the library's.
    (name, value), (libm, libm_value) = digest("auto", 2, NO_AVX2), digest("libm", 2, NO_AVX2)
    assert name in ("avx2", "sse2", "libm") and libm == "libm"
    assert value == libm_value
    report = run_python("import kiv; print(kiv.math_path())", env_extra=NO_AVX2)
    assert "avx2-fma: exp(" in report, report


@pytest.mark.skipif(not HAS_AVX2_FMA, reason="the FMA replicas need AVX2 and FMA")
@pytest.mark.parametrize("flip", ["exp", "log"])
def test_one_fused_multiply_add_left_out_fails_the_check(flip):
    report = run_python("import kiv; print(kiv.math_path())", env_extra={"KIV_MATH_TEST_FLIP": flip})
    if report.split(" ")[0] in ("avx2", "sse2"):
        pytest.skip("the library runs its build without FMA, which the flip does not touch")
    assert report.startswith("libm (") and f"avx2-fma: {flip}(" in report, report
    name, value = digest("auto", 2, {"KIV_MATH_TEST_FLIP": flip})
    assert (name, value) == digest("libm", 2)


def test_bitwise_sweeps_on_every_path():
    script = ROOT / "bench" / "bench_vmath.py"
    out = subprocess.run([sys.executable, str(script), "sweep", "--count", "20000"], capture_output=True, text=True,
                         timeout=1800)
    assert out.returncode == 0, out.stdout + out.stderr
    assert "differ" not in out.stdout


@pytest.mark.parametrize("call", [kiv.math_path, kiv._native._math_check])
def test_the_report_leaves_nothing_behind(call):
    assert_no_leak(call, repeat=2000)
