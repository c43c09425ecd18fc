"""A short tour of kiv_core: the kiv operator and its batch functions."""

import math
import os
import subprocess
import sys

import kiv_core


def pool_speedup(setup, statement, rounds=3, repeat=3):
    """Best times of `statement` with one pool thread and with the default pool. Each is measured in fresh
    interpreters (the pool's size is fixed when it is first used), taken in turns so that a busy machine
    slows both alike."""
    script = (
        f"import time, kiv_core\n{setup}\n{statement}\nbest = float('inf')\n"
        f"for _ in range({repeat}):\n"
        f"    t = time.perf_counter(); {statement}; best = min(best, time.perf_counter() - t)\n"
        "print(best)\n"
    )
    best = {"1": math.inf, None: math.inf}
    for _ in range(rounds):
        for threads in best:
            env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
            if threads:
                env["RAYON_NUM_THREADS"] = threads
            out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                                 check=True)
            best[threads] = min(best[threads], float(out.stdout))
    return best["1"], best[None]


print("== The operator kiv(x, y) = exp(x) - ln(y), element-wise over lists")
xs = [0.0, 1.0, 2.0, 710.0]
ys = [1.0, math.e, 0.0, -1.0]
for x, y, t in zip(xs, ys, kiv_core.tension_n(xs, ys)):
    print(f"  kiv({x:g}, {y:g}) = {t!r}")
print("    (ln 0 is taken as ln 1e-300 = -690.78, so kiv(2, 0) = e^2 + 690.78; ln(-1) is ln 1 = 0 and exp(710)")
print("    is 710, as the next lines say, so kiv(710, -1) is 710)")
print("  exp_n stays finite past the overflow threshold:", kiv_core.exp_n([709.0, 710.0]))
print("    (exp(709.78...) is the largest finite double; past it exp(x) is taken of ln x, so exp(710) = 710)")
print("  ln_n guards zero and negative values:", kiv_core.ln_n([0.0, -math.e]))
print("    (ln 0 is floored at ln 1e-300; ln of a negative number is ln of its magnitude: ln(-e) = 1)")
print("  div_n gives NaN for tiny divisors:", kiv_core.div_n([1.0, 6.0], [0.0, -3.0]))
print("    (a divisor below 1e-300 in magnitude gives NaN, not an infinity or an error)")
print("  pow_n and sqrt_n use the magnitude:", kiv_core.pow_n([-2.0], [3.0]), kiv_core.sqrt_n([-4.0]))

n = 1_000_000
big = [i / n for i in range(n)]
total = sum(kiv_core.tension_n(big, [1.0 + v for v in big]))
print(f"  sum of kiv over {n:,} points, computed on the worker pool: {total:.6f}")
cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
print(f"  what the worker pool buys on this machine ({cpus} logical processors; one pool thread vs the default):")
for label, setup, statement in [
    ("tension_n, 2,000,000 elements", "xs = [i / 2e6 for i in range(2_000_000)]; ys = [1 + x for x in xs]",
     "kiv_core.tension_n(xs, ys)"),
    ("geometric_product_n, 5,000 dense pairs in 6 dimensions",
     "a = [[0.5 + k for k in range(64)]] * 5_000; sig = [1, -1, 1, -1, 1, 1]",
     "kiv_core.geometric_product_n(a, a, sig)"),
]:
    one, default = pool_speedup(setup, statement)
    print(f"    {label}: {one * 1e3:.1f} ms vs {default * 1e3:.1f} ms, {one / default:.2f}x as fast")
print("    (lists are converted on the calling thread and only the arithmetic is shared out; other work on the")
print("    machine takes cores from the pool, so these figures vary from run to run)")
print()
print("== Value classes: KIVPoint, KIVPair, KIVKnot (immutable; every move returns a new object)")
p = kiv_core.KIVPoint(1.5, -2)
print(f"  {p!r}: tension {p.tension()!r}, slipping past exp's limit: {p.is_slipping()}")
print(f"  mirror pulse (x, y) -> (|y|, tension): {p.mirror_pulse()!r}")
print(f"  frame coordinates (exp x, ln|y|): {p.pair()!r}")
print(f"  deltas: Euclidean {p.euclidean_delta():.6f}, Minkowski {p.minkowski_delta(True, 1.0):.6f}")
b = p.boost(0.5, 1.0)
print(f"  boost by rapidity 0.5: {b!r}, Minkowski delta kept: {b.minkowski_delta(True, 1.0):.6f}")

z = kiv_core.KIVPair(1, 2)
w = kiv_core.KIVPair.from_polar(2.0, math.pi / 2)
print(f"  {z!r} * {w!r} = {z * w!r}")
print(f"  {z!r} / KIVPair.zero() = {z / kiv_core.KIVPair.zero()!r} (never raises: the divisor's squared modulus")
print("    is raised to 1e-300, and both numerator terms are 0 for a zero divisor, so the quotient is 0)")
print(f"  |z| = {abs(z)!r}, arg z = {z.argument!r}, conjugate {z.conjugate()!r}")
print(f"  z.rotate_phase(2*pi) == z: {z.rotate_phase(2 * math.pi) == z} (equality within 1e-9)")

k = kiv_core.KIVKnot(kiv_core.KIVPoint(0, 1))
print(f"  {k!r}")
print(f"  pulse: {k.pulse()!r}")
print(f"  flip (four pulses): {k.flip()!r}, tread yield {k.flip().tread_yield()}")
print(f"  the count wraps: {kiv_core.KIVKnot(k.point, 2**63 - 1).pulse().flip_count}")

print()
print("== Batch physics over lists of (x, y) tuples")
points = [(0.0, 1.0), (1.0, math.e), (0.5, 2.0)]
for (x, y), (bx, by) in zip(points, kiv_core.boost_n(points, [0.25, 0.5, -0.5], 1.0)):
    print(f"  boost of ({x:g}, {y:.6g}) by its rapidity: ({bx:.6f}, {by:.6f})")
print("  two mirror pulses from (0, 1), with their tensions:", kiv_core.simulate_pulses_n(0.0, 1.0, 2))

print()
print("== Algebra kernels")
e0, e1 = [0.0, 1.0, 0.0, 0.0], [0.0, 0.0, 1.0, 0.0]
print("  geometric product e0 e1 and e1 e0 under signature [1, 1]:",
      kiv_core.geometric_product_n([e0, e1], [e1, e0], [1, 1]))
print("  e0 squared under signature [-1, 1]:", kiv_core.geometric_product_n([e0], [e0], [-1, 1]))
o1 = [0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0]
o2 = [0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0]
print("  octonion products e1 e2 and e2 e1:", kiv_core.octonion_mul_n([o1, o2], [o2, o1]))

print()
print("== Formula discovery: find a formula from samples of x and y")
xs = [0.5 + 0.25 * i for i in range(12)]
ys = [x * x + math.exp(x) for x in xs]
found = kiv_core.find_formula([xs], ys)  # x_data is a list of columns, one per variable
print("  found:", found)
print("  formula:", found.formula, "| complexity:", found.complexity, "| error:", found.error)
print("  as LaTeX:", found.to_latex())
print("  as Python:", found.to_python().replace("\n", "; "))

print()
print("== The kiv package: the same kernels for numpy arrays and data-science workflows")
import numpy as np  # noqa: E402 - kiv_core above needs no numpy; the kiv package does

import kiv  # noqa: E402

a = np.linspace(0.0, 2.0, 5)
print("  kiv.tension is a numpy ufunc:", kiv.tension(a, 1.0 + a))
print("    bit for bit what tension_n returns:", kiv.tension(a, 1.0 + a).tolist() == kiv_core.tension_n(a, 1.0 + a))
X = np.column_stack([np.linspace(0.5, 3.0, 40), np.linspace(1.0, 2.0, 40)])  # (n_samples, n_features)
y = X[:, 0] * X[:, 1] + 1.0
f = kiv.discover(X, y, feature_names=["speed", "load"])
print(f"  kiv.discover on X of shape {X.shape}: {f.text}  (error {f.error:.3g}, complexity {f.complexity})")
print("  evaluated on new rows:", f.evaluate(np.array([[1.0, 1.0], [2.0, 3.0]])))
print("  as numpy source:", f.to_python().splitlines()[-1].strip())
