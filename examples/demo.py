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
