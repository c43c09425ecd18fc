"""Correct use of kiv's array side (ufuncs, gufuncs, the Dask-aware products, discover_many, the version):
the type checker must accept all of it, with the result types asserted here, and the script must run."""

from typing import Any, assert_type

import numpy as np
from numpy.typing import NDArray

import kiv

x = np.linspace(0.0, 2.0, 11)

# Element-wise ufuncs are numpy ufuncs: every keyword of a ufunc call is there.
assert_type(kiv.exp, np.ufunc)
t: NDArray[np.float64] = kiv.tension(x, 1.0 + x)
kiv.ln(x, out=np.empty_like(x), where=x > 1.0)
kiv.add.reduce(x)

# Gufuncs: numpy arrays in, a float64 array out; lists and Dask arrays give whatever the call returns.
e = np.eye(8)
assert_type(kiv.octonion_mul(e[1:2], e[2:3]), NDArray[np.float64])
assert_type(kiv.octonion_mul(e, [0.0, 1, 0, 0, 0, 0, 0, 0], axes=[(-1,), (-1,), (-1,)]), NDArray[np.float64])
assert_type(kiv.octonion_mul([1.0] * 8, [2.0] * 8), Any)
assert_type(kiv.octonion_mul.signature, str)
assert_type(kiv.octonion_mul.ufunc, np.ufunc)
octonions: kiv.Gufunc = kiv.octonion_mul
assert_type(kiv.geometric_product(e[:4, :4], e[0, :4], (1, -1)), NDArray[np.float64])
assert_type(kiv.geometric_product([1.0, 0, 0, 0], e[1, :4], np.array([1, 0])), NDArray[np.float64])
assert_type(kiv.geometric_product_gufunc(range(-1, 2)), np.ufunc)

# Many searches; settings are discover's keywords.
many = kiv.discover_many({"double": (x, 2.0 * x), "square": (x, x * x)}, max_complexity=3)
assert_type(many, dict[str, kiv.Formula])
assert_type(kiv.discover_many([(x, x)], max_complexity=2), list[kiv.Formula])

assert_type(kiv.__version__, str)
