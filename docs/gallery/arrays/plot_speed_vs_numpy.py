"""
Speed against numpy
===================

``kiv.tension(x, y)`` computes ``exp(x) − ln(y)`` with its guards in one pass over the data. numpy can
write the same guarded operation as an expression of whole-array steps, and the plain ``np.exp(x) −
np.log(y)`` without guards (which overflows past ``x ≈ 709.78`` and fails at ``y ≤ 0``). All three are timed
here over array sizes from a thousand to ten million elements, as the best of a few runs. Long arrays are
spread over kiv's worker pool, so the picture depends on the number of cores of the machine that built
this site, and on the exp and log of its C library, which kiv calls for every element so that its results
are those of the C library bit for bit.
"""

import time

import matplotlib.pyplot as plt
import numpy as np

import kiv


def best_of(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def numpy_guarded(x, y, out):
    # exp of ln(x) past the overflow threshold; ln|y|, with ln(1e-300) at y = 0.
    e = np.exp(np.where(x > 709.782712893384, np.log(np.maximum(x, 1.0)), x))
    return np.subtract(e, np.log(np.where(y == 0.0, 1e-300, np.abs(y))), out=out)


def numpy_plain(x, y, out):
    return np.subtract(np.exp(x), np.log(y), out=out)


rng = np.random.default_rng(0)
sizes = np.array([1_000, 10_000, 100_000, 1_000_000, 10_000_000])
contenders = {
    "kiv.tension": lambda x, y, out: kiv.tension(x, y, out=out),
    "numpy, the same guards": numpy_guarded,
    "numpy, no guards": numpy_plain,
}
rates = {name: [] for name in contenders}
for n in sizes:
    x = rng.uniform(-5.0, 5.0, n)
    y = rng.uniform(0.1, 10.0, n)
    out = np.empty(n)
    repeat = max(3, int(2e6 // n))
    for name, fn in contenders.items():
        rates[name].append(n / best_of(lambda: fn(x, y, out), repeat))
    assert np.allclose(kiv.tension(x, y), numpy_guarded(x, y, None), rtol=1e-12, atol=1e-12)

for name, r in rates.items():
    print(f"{name:24s}", "  ".join(f"{v / 1e6:7.1f}" for v in r), "million elements/s")

# %%
# Elements per second (higher is better), and kiv's rate as a multiple of each numpy form's.

fig, (left, right) = plt.subplots(1, 2, figsize=(9.5, 3.8))
for name, r in rates.items():
    left.loglog(sizes, r, marker="o", label=name)
left.set_xlabel("elements")
left.set_ylabel("elements per second")
left.legend(fontsize="small")
kiv_rate = np.array(rates["kiv.tension"])
for colour, name in zip(("C1", "C2"), list(contenders)[1:]):
    right.semilogx(sizes, kiv_rate / np.array(rates[name]), marker="o", color=colour, label=f"vs {name}")
right.axhline(1.0, color="0.3", lw=0.8)
right.set_xlabel("elements")
right.set_ylabel("kiv's rate / numpy's")
right.legend(fontsize="small")
fig.tight_layout()
plt.show()
