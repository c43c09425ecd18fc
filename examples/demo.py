"""A short tour of kiv_core: the kiv operator and its batch functions."""

import math

import kiv_core

print("== The operator kiv(x, y) = exp(x) - ln(y), element-wise over lists")
xs = [0.0, 1.0, 2.0, 710.0]
ys = [1.0, math.e, 0.0, -1.0]
for x, y, t in zip(xs, ys, kiv_core.tension_n(xs, ys)):
    print(f"  kiv({x:g}, {y:g}) = {t!r}")
print("  exp_n stays finite past the overflow threshold:", kiv_core.exp_n([709.0, 710.0]))
print("  ln_n guards zero and negative values:", kiv_core.ln_n([0.0, -math.e]))
print("  div_n gives NaN for tiny divisors:", kiv_core.div_n([1.0, 6.0], [0.0, -3.0]))
print("  pow_n and sqrt_n use the magnitude:", kiv_core.pow_n([-2.0], [3.0]), kiv_core.sqrt_n([-4.0]))

n = 1_000_000
big = [i / n for i in range(n)]
total = sum(kiv_core.tension_n(big, [1.0 + v for v in big]))
print(f"  sum of kiv over {n:,} points, computed on the worker pool: {total:.6f}")

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
print(f"  {z!r} / KIVPair.zero() = {z / kiv_core.KIVPair.zero()!r} (never raises)")
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
