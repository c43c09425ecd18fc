"""Fits a formula to noisy measurements with kiv.discover and saves a plot of the data against the formula.

    python examples/discover_noisy.py [plot.png]
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import kiv  # noqa: E402


def main(path="discover_noisy.png"):
    rng = np.random.default_rng(42)
    # A damped response measured at 150 random times, with 2% noise.
    t = np.sort(rng.uniform(0.2, 6.0, 150))
    y = np.exp(-t) * 3.0 + np.sqrt(t)
    y_noisy = y * (1 + 0.02 * rng.normal(size=t.size))

    formula = kiv.discover(t.reshape(-1, 1), y_noisy, feature_names=["t"], max_complexity=7, time_limit=60)
    print(f"found  {formula.text}")
    print(f"error  {formula.error:.4g}   complexity {formula.complexity}")
    print(f"latex  {formula.to_latex()}")

    grid = np.linspace(t.min(), t.max(), 400)
    fig, ax = plt.subplots(figsize=(7, 4))
    ax.scatter(t, y_noisy, s=10, color="0.4", label="measurements")
    ax.plot(grid, formula.evaluate(grid), color="C3", lw=2, label=f"${formula.to_latex()}$")
    ax.set_xlabel("t")
    ax.set_ylabel("y")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    print(f"plot   {path}")
    return formula


if __name__ == "__main__":
    main(*sys.argv[1:2])
