"""Correct use of kiv's formula discovery (discover and its settings, Formula, KIVRegressor): the type
checker must accept all of it and the script must run."""

from collections.abc import Sequence

import numpy as np
from numpy.typing import NDArray

import kiv
from kiv.sklearn import KIVRegressor

X = np.linspace(0.5, 2.0, 40).reshape(-1, 2)
y = X[:, 0] * X[:, 1]


def report(level: int, best: kiv.Formula) -> None:
    print(level, best.text)


f = kiv.discover(X, y, feature_names=["a", "b"], max_complexity=4, beam_width=100, precision_goal=1e-10,
                 use_trig=False, use_kiv=True, complexity_penalty=0.001, time_limit=30, progress=report)
assert f is not None
text: str = f.text
complexity: int = f.complexity
names: Sequence[str] = f.feature_names
stopped: bool = f.stopped_early
values: NDArray[np.float64] = f.evaluate(X)
latex: str = f.to_latex()
source: str = f.to_python("product")
again: kiv.Formula = kiv.Formula.parse(f.text, ["a", "b"])
assert again.text == f.text
kiv.discover(X.tolist(), y.tolist(), time_limit=2.5, progress=False)

model: KIVRegressor = KIVRegressor(max_complexity=4, time_limit=10.0).fit(X, y)
predicted: NDArray[np.float64] = model.predict(X)
