"""kiv's element-wise ufuncs: the bits of kiv_core's batch functions, and numpy's ufunc behaviour."""

import pickle

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kiv
import kiv_core
from floats import SPECIAL, assert_same_bits, f64

UNARY = {"exp": "exp_n", "ln": "ln_n", "sqrt": "sqrt_n", "sin": "sin_n", "cos": "cos_n"}
BINARY = {"add": "add_n", "sub": "sub_n", "mul": "mul_n", "div": "div_n", "pow": "pow_n", "tension": "tension_n"}


def test_the_ufuncs_are_numpy_ufuncs_of_the_kiv_package():
    for name in [*UNARY, *BINARY]:
        u = getattr(kiv, name)
        assert isinstance(u, np.ufunc)
        assert (u.nin, u.nout, u.types) == ((1 if name in UNARY else 2), 1, ["d->d" if name in UNARY else "dd->d"])
        assert u.__module__ == "kiv" and u.__name__ == name
        assert pickle.loads(pickle.dumps(u)) is u  # by reference, as Dask ships it to worker processes
    assert pickle.loads(pickle.dumps(kiv.octonion_mul)) is kiv.octonion_mul


@settings(max_examples=300, deadline=None)
@given(st.lists(f64, min_size=1, max_size=40))
def test_unary_bits_match_kiv_core(values):
    x = np.array(values)
    for name, core in UNARY.items():
        expected = getattr(kiv_core, core)(x.tolist())
        assert_same_bits(getattr(kiv, name)(x), expected)
        assert_same_bits(getattr(kiv, name)(x[::-1])[::-1], expected)  # negative stride


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(f64, f64), min_size=1, max_size=40))
def test_binary_bits_match_kiv_core(pairs):
    a = np.array([p[0] for p in pairs])
    b = np.array([p[1] for p in pairs])
    for name, core in BINARY.items():
        expected = getattr(kiv_core, core)(a.tolist(), b.tolist())
        assert_same_bits(getattr(kiv, name)(a, b), expected)
        # The same through strided views (every other element of a larger buffer).
        wide = np.zeros((2, 2 * len(pairs)))
        wide[0, ::2], wide[1, 1::2] = a, b
        assert_same_bits(getattr(kiv, name)(wide[0, ::2], wide[1, 1::2]), expected)


@pytest.mark.parametrize("n", [1, 5000, 70_001, 300_000])
def test_long_runs_match_kiv_core_contiguous_and_strided(n):
    # Long enough to go to the pool (the lengths straddle its thresholds) and to numpy's buffering.
    rng = np.random.default_rng(n)
    specials = np.array(SPECIAL)
    a = np.where(rng.random(n) < 0.1, rng.choice(specials, n), rng.normal(0, 300, n))
    b = np.where(rng.random(n) < 0.1, rng.choice(specials, n), rng.normal(0, 300, n))
    for name, core in UNARY.items():
        expected = np.array(getattr(kiv_core, core)(a.tolist()))
        assert_same_bits(getattr(kiv, name)(a), expected)
        assert_same_bits(getattr(kiv, name)(np.repeat(a, 2)[::2]), expected)
    for name, core in BINARY.items():
        expected = np.array(getattr(kiv_core, core)(a.tolist(), b.tolist()))
        assert_same_bits(getattr(kiv, name)(a, b), expected)
        assert_same_bits(getattr(kiv, name)(np.repeat(a, 3)[::3], b[::-1][::-1]), expected)


def test_worked_values():
    assert_same_bits(kiv.exp([0.0, 709.782712893384, 710.0]), kiv_core.exp_n([0.0, 709.782712893384, 710.0]))
    assert kiv.ln(0.0) == -690.7755278982137 and kiv.ln(-1.0) == 0.0
    assert kiv.tension(0.0, 0.0) == 691.7755278982137
    assert np.isnan(kiv.div(1.0, 0.0)) and kiv.div(6.0, -3.0) == -2.0
    assert kiv.sqrt(-4.0) == 2.0 and kiv.pow(-2.0, 3.0) == 8.0 and kiv.sub(5.0, 3.0) == 2.0


def test_broadcasting_out_where_and_dtype():
    x = np.linspace(-3, 3, 12).reshape(3, 4)
    y = np.array([0.5, 1.0, -2.0, 0.0])
    full = np.array(kiv_core.tension_n(x.ravel().tolist(), np.tile(y, 3).tolist())).reshape(3, 4)
    assert_same_bits(kiv.tension(x, y), full)
    out = np.full((3, 4), 7.0)
    mask = x > 0
    r = kiv.tension(x, y, out=out, where=mask)
    assert r is out
    assert_same_bits(out, np.where(mask, full, 7.0))
    assert kiv.tension(x, y, dtype=np.float64).dtype == np.float64
    assert_same_bits(kiv.tension(x.T, y[:, None]), kiv.tension(x.T.copy(), y[:, None].copy()))
    assert kiv.exp(np.float64(1.0)).shape == () and kiv.exp(2.0) == kiv_core.exp_n([2.0])[0]


def test_in_place_and_overlapping_operands():
    rng = np.random.default_rng(3)
    x = rng.normal(size=200_000)
    expected = kiv.exp(x)
    kiv.exp(x, out=x)
    assert_same_bits(x, expected)
    # Output overlapping the input one element behind: numpy sees the overlap and the result is as if
    # computed from a copy.
    z = rng.normal(size=100_001)
    expected = kiv.add(z[:-1], 1.0)
    kiv.add(z[:-1], 1.0, out=z[1:])
    assert_same_bits(z[1:], expected)


def test_reductions_follow_the_order_of_elements():
    # A reduction and a running sum read what the loop has just written: they stay in order even for
    # arrays long enough to be split.
    x = np.random.default_rng(5).normal(size=300_000)
    acc = kiv.add.accumulate(x)
    assert_same_bits(acc, np.cumsum(x))
    assert kiv.add.reduce(x) == acc[-1]
    assert_same_bits(kiv.mul.accumulate(x[:50]), np.cumprod(x[:50]))


@pytest.mark.parametrize("dtype", [np.float32, np.float16, np.int64, np.int8, np.uint32, np.bool_])
def test_other_real_dtypes_are_cast_to_float64(dtype):
    x = np.arange(-3, 4).astype(dtype)
    r = kiv.tension(x, x)
    assert r.dtype == np.float64
    assert_same_bits(r, kiv.tension(x.astype(np.float64), x.astype(np.float64)))
    out = np.empty(7, dtype=np.float32)  # float64 results cast into the output
    kiv.exp(x, out=out)
    assert_same_bits(out.astype(np.float64), kiv.exp(x.astype(np.float64)).astype(np.float32).astype(np.float64))


@pytest.mark.parametrize("bad", [np.array([1j]), np.array([1.0], dtype=np.complex64), np.array(["a"])])
def test_complex_and_non_numbers_are_refused_as_numpy_does(bad):
    with pytest.raises(TypeError, match="not supported for the input types"):
        kiv.exp(bad)
    with pytest.raises(TypeError, match="not supported for the input types"):
        kiv.tension(np.ones(1), bad)


def test_no_floating_point_warning_whatever_the_error_state():
    # kiv's operations never signal a numeric condition, on any thread.
    with np.errstate(all="raise"):
        assert kiv.pow(0.0, -1.0) == np.inf
        assert np.isnan(kiv.sin(np.inf)) and np.isnan(kiv.tension(np.inf, np.inf))
        assert np.isnan(kiv.div(np.zeros(100_000), 0.0)).all()
        assert kiv.exp(1000.0) < 1001.0
