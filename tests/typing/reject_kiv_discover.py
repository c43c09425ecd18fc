"""Misuse of kiv's formula discovery that the types catch: each marked line must be reported with the code
after 'E:'."""

import numpy as np

import kiv
from kiv.sklearn import KIVRegressor

X = np.ones((10, 2))
y = np.ones(10)

kiv.discover(X, y, time_limit="30")  # E: arg-type
kiv.discover(X, y, max_complexity=8.5)  # E: arg-type
kiv.discover(X, y, use_trig="no")  # E: arg-type
kiv.discover(X, y, beam_widht=100)  # E: call-arg
kiv.discover(X, y, progress="bar")  # E: arg-type
f = kiv.discover(X, y)
assert f is not None
f.txt  # E: attr-defined
f.evaluate(X, "fast")  # E: call-arg
KIVRegressor(time_limit="30")  # E: arg-type
