"""Leak check over every public entry: success paths and each kind of error path, thousands of times.

Each row of CASES is (id, call, watched): `call` is run many times and the test fails when the memory
traced by tracemalloc grows or the reference count of any object in `watched` (the argument objects)
changes. The rows of the value classes, physics, algebra and discovery entries are kept in their own
test modules as LEAK_CASES and gathered here. To add an entry, append rows (here or to its module's
LEAK_CASES) for its success path and for each error kind it has: a binding error (wrong number or names of arguments), a conversion error (an argument of the wrong kind or with a
bad item; a TypeError that gets the argument prefix and a ValueError/OverflowError that passes
unchanged), and an internal failure (the panic exception) where the entry has one.
"""

import array

import numpy as np
import pytest

import kiv_core
import test_algebra
import test_discover
import test_knot
import test_pair
import test_physics
import test_point
from leaks import assert_no_leak

XS = [0.25 * i - 3.0 for i in range(64)]
TUP = tuple(XS)
ARR = np.array(XS)
BUF = array.array("d", XS)
BAD_ITEM = [1.0, "x"]
BAD_VALUE = [1.0, 10**400]  # float conversion overflows: OverflowError, no prefix
TEXT = "abc"


class Boom:
    def __float__(self):
        raise ValueError("boom")


BOOM = [Boom()]


class Overstated:
    def __len__(self):
        return 2**62

    def __getitem__(self, i):
        raise IndexError


OVERSTATED = Overstated()  # its announced length cannot be held: MemoryError before any item is read

UNARY = ["exp_n", "ln_n", "sqrt_n", "sin_n", "cos_n"]
BINARY = ["add_n", "sub_n", "mul_n", "div_n", "pow_n", "tension_n"]


def _batch_cases():
    rows = []
    for name in UNARY:
        f = getattr(kiv_core, name)
        rows += [
            (f"{name}-list", lambda f=f: f(XS), (XS,)),
            (f"{name}-tuple", lambda f=f: f(TUP), (TUP,)),
            (f"{name}-numpy", lambda f=f: f(ARR), (ARR,)),
            (f"{name}-buffer", lambda f=f: f(BUF), (BUF,)),
            (f"{name}-keyword", lambda f=f, p=f.__text_signature__[1:-1]: f(**{p: XS}), (XS,)),
            (f"{name}-too-many", lambda f=f: f(XS, XS), (XS,)),
            (f"{name}-missing", lambda f=f: f(), ()),
            (f"{name}-unknown-keyword", lambda f=f: f(XS, zz=XS), (XS,)),
            (f"{name}-str", lambda f=f: f(TEXT), (TEXT,)),
            (f"{name}-bad-item", lambda f=f: f(BAD_ITEM), (BAD_ITEM,)),
            (f"{name}-overflow-item", lambda f=f: f(BAD_VALUE), (BAD_VALUE,)),
            (f"{name}-value-error-item", lambda f=f: f(BOOM), (BOOM,)),
            (f"{name}-overstated-length", lambda f=f: f(OVERSTATED), (OVERSTATED,)),
        ]
    for name in BINARY:
        f = getattr(kiv_core, name)
        rows += [
            (f"{name}-lists", lambda f=f: f(XS, TUP), (XS, TUP)),
            (f"{name}-numpy", lambda f=f: f(ARR, BUF), (ARR, BUF)),
            (f"{name}-twice", lambda f=f: f(XS, XS, **{f.__text_signature__[1:-1].split(", ")[0]: XS}), (XS,)),
            (f"{name}-missing", lambda f=f: f(XS), (XS,)),
            (f"{name}-second-not-sequence", lambda f=f: f(XS, None), (XS,)),
            (f"{name}-bad-item", lambda f=f: f(XS, BAD_ITEM), (XS, BAD_ITEM)),
            (f"{name}-value-error-item", lambda f=f: f(BOOM, XS), (BOOM, XS)),
        ]
    return rows


def _area_cases():
    """The rows each area's test module keeps beside its other tests, as (id, call, watched)."""
    rows = []
    for module in (test_point, test_pair, test_knot, test_physics, test_algebra, test_discover):
        prefix = module.__name__.removeprefix("test_")
        rows += [(f"{prefix}:{name}", call, watched) for name, call, watched in module.LEAK_CASES]
    return rows


CASES = _batch_cases() + _area_cases()


@pytest.mark.parametrize("call, watched", [(c, w) for _, c, w in CASES], ids=[i for i, _, _ in CASES])
def test_no_leak(call, watched):
    assert_no_leak(call, watched=watched, repeat=2000)
