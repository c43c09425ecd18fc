"""No Python object or traced memory left behind by kiv's ufuncs and gufuncs, error paths included."""

import numpy as np
import pytest

import kiv
from leaks import assert_no_leak

x = np.linspace(-5, 5, 20_000)
y = np.linspace(0.1, 9, 20_000)
o = np.ones((500, 8))
out = np.empty(20_000)
bad = np.ones(3, dtype=complex)
sig = [1, -1, -1, -1]


@pytest.mark.parametrize(
    "call, watched",
    [
        (lambda: kiv.tension(x, y), (x, y)),
        (lambda: kiv.exp(x, out=out, where=x > 0), (x, out)),
        (lambda: kiv.add(x[::2], 1), (x,)),
        (lambda: kiv.add.accumulate(x), (x,)),
        (lambda: kiv.exp(x.astype(np.float32)), (x,)),
        (lambda: kiv.exp(bad), (bad,)),  # complex refused
        (lambda: kiv.tension(x, y[:5]), (x, y)),  # shapes that do not broadcast
        (lambda: kiv.octonion_mul(o, o[0]), (o,)),
        (lambda: kiv.octonion_mul(o, np.ones(7)), (o,)),  # wrong core length
        (lambda: kiv.geometric_product(o, o, [1, 1, 1]), (o,)),
        (lambda: kiv.geometric_product(o, o, sig), (o, sig)),  # wrong core length
    ],
)
def test_calls_leave_nothing_behind(call, watched):
    assert_no_leak(call, watched=watched, repeat=500)


@pytest.mark.parametrize("signature", [[], [1, 5], [1] * 17, [0.5], "11", [1, 10**40]])
def test_bad_signatures_leave_nothing_behind(signature):
    assert_no_leak(lambda: kiv.geometric_product(o, o, signature), watched=(o, signature), repeat=500)


def test_gufuncs_dropped_from_the_cache_are_freed():
    # More distinct signatures than the cache keeps, over and over: memory stays flat, so a gufunc that
    # leaves the cache frees everything it holds.
    signatures = [[(i >> k) % 3 - 1 for k in range(5)] for i in range(100)]
    a = np.ones(32)

    def build_many():
        for s in signatures:
            kiv.geometric_product(a, a, s)

    assert_no_leak(build_many, watched=(a,), repeat=30, slack_bytes=64 * 1024)
