"""
Fit against data, with residuals
================================

A damped response, ``3 exp(−t) + √t``, is measured at 150 random times with 2 % noise. :func:`kiv.discover`
finds a formula for it; the upper panel shows the measurements with the formula, the lower one what is
left over. Residuals without a pattern, of the size of the noise, would say that the formula has caught
the law. Here they do not, at small ``t``: the search builds its constants from 0 and 1 only, and its best
short formula ``exp(1 − t) + √t`` has ``e ≈ 2.72`` where the law has 3. The residual plot is where such a
near miss shows.
"""

import matplotlib.pyplot as plt
import numpy as np

import kiv

rng = np.random.default_rng(42)
t = np.sort(rng.uniform(0.2, 6.0, 150))
truth = 3.0 * np.exp(-t) + np.sqrt(t)
y = truth * (1 + 0.02 * rng.normal(size=t.size))

formula = kiv.discover(t, y, feature_names=["t"], max_complexity=7)
print(formula.text)
print(f"error {formula.error:.4f}, complexity {formula.complexity}")

# %%
# The formula is evaluated on a fine grid for the curve and on the measured times for the residuals.

grid = np.linspace(t.min(), t.max(), 400)
residuals = y - formula.evaluate(t)

fig, (top, bottom) = plt.subplots(2, 1, figsize=(7, 5.5), sharex=True, height_ratios=[3, 1.4])
top.scatter(t, y, s=10, color="0.45", label="measurements")
top.plot(grid, formula.evaluate(grid), color="C3", lw=2, label=f"${formula.to_latex()}$")
top.set_ylabel("y")
top.legend()
bottom.axhline(0.0, color="0.2", lw=0.8)
bottom.scatter(t, residuals, s=8, color="C0")
bottom.fill_between(grid, -0.02 * np.interp(grid, t, truth), 0.02 * np.interp(grid, t, truth), color="C0",
                    alpha=0.15, label="noise level (1 σ)")
bottom.set_xlabel("t")
bottom.set_ylabel("residual")
bottom.legend(loc="upper right")
fig.tight_layout()
plt.show()
