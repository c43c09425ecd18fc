"""
The Pareto front: accuracy against length
=========================================

The kinetic energy ``E = ½ m v²`` of 200 bodies is measured with 1 % noise. With ``constants="scale"`` the
search fits the factor in front of each formula it tries, and :attr:`kiv.Formula.front` lists the best
formula of each length it found, each one more accurate than every shorter one. Plotted, the error falls
steeply until the law is found and hardly at all after it: the longer formulas only fit the noise. The
search returns the formula at that knee, chosen by an information criterion.
"""

import matplotlib.pyplot as plt
import numpy as np

import kiv

rng = np.random.default_rng(7)
m = rng.uniform(0.5, 4.0, 200)
v = rng.uniform(-3.0, 3.0, 200)
truth = 0.5 * m * v**2
E = truth * (1 + 0.01 * rng.normal(size=m.size))

formula = kiv.discover(np.column_stack([m, v]), E, feature_names=["m", "v"], constants="scale")
front = formula.front
print(front)

# %%
# Each member's complexity (its token count) against its rmse on the measurements, the chosen one marked;
# the dashed line is the noise level, below which no formula should be believed.

fig, ax = plt.subplots(figsize=(7, 4.2))
ax.plot([f.complexity for f in front], [f.rmse for f in front], "o-", color="C0", label="front")
chosen = front[front.chosen] if front.chosen is not None else formula
ax.plot([chosen.complexity], [chosen.rmse], "o", ms=12, mfc="none", mec="C3", mew=2,
        label=f"returned: ${chosen.to_latex()}$")
ax.axhline(np.sqrt(np.mean((E - truth) ** 2)), color="0.4", ls="--", lw=1, label="noise level")
ax.set_yscale("log")
ax.set_xlabel("complexity (tokens)")
ax.set_ylabel("rmse")
ax.legend()
fig.tight_layout()
plt.show()
