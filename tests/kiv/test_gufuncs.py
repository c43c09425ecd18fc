"""kiv's algebra gufuncs: the bits of kiv_core's batch products, numpy's gufunc behaviour, bad signatures."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kiv
import kiv_core
from floats import assert_same_bits, f64

# Mostly small integers and zeros (the kernels skip zeros), with the special values mixed in.
coefficient = st.one_of(st.sampled_from([0.0, -0.0, 1.0, -1.0, 2.0, 0.5]), f64)


@settings(max_examples=200, deadline=None)
@given(st.lists(st.tuples(st.lists(coefficient, min_size=8, max_size=8), st.lists(coefficient, min_size=8, max_size=8)),
                min_size=1, max_size=12))
def test_octonion_bits_match_kiv_core(pairs):
    a = np.array([p[0] for p in pairs])
    b = np.array([p[1] for p in pairs])
    expected = kiv_core.octonion_mul_n(a.tolist(), b.tolist())
    assert_same_bits(kiv.octonion_mul(a, b), expected)
    assert_same_bits(kiv.octonion_mul(np.asfortranarray(a), b[::-1][::-1]), expected)  # strided records


SIGNATURES = [[1], [-1], [0], [1, 1], [1, -1, 0], [1, 1, 1], [1, -1, -1, -1], [0, 1, -1, 1, 0]]


@settings(max_examples=100, deadline=None)
@given(st.sampled_from(SIGNATURES), st.data())
def test_geometric_bits_match_kiv_core(signature, data):
    n = 2 ** len(signature)
    count = data.draw(st.integers(1, 6))
    a = np.array(data.draw(st.lists(st.lists(coefficient, min_size=n, max_size=n), min_size=count, max_size=count)))
    b = np.array(data.draw(st.lists(st.lists(coefficient, min_size=n, max_size=n), min_size=count, max_size=count)))
    expected = kiv_core.geometric_product_n(a.tolist(), b.tolist(), signature)
    assert_same_bits(kiv.geometric_product(a, b, signature), expected)
    assert_same_bits(kiv.geometric_product(a.T.copy().T, b[:, ::-1][:, ::-1], signature), expected)


@pytest.mark.parametrize("signature", [[1, 1, 1], [1, -1, -1, -1], [0, 1, -1, 1, 0, -1]])
def test_large_dense_batches_match_kiv_core(signature):
    # Enough pairs to be split over the pool.
    n = 2 ** len(signature)
    rng = np.random.default_rng(len(signature))
    a = rng.normal(size=(3000, n))
    b = rng.integers(-3, 4, size=(3000, n)).astype(float)
    assert_same_bits(kiv.geometric_product(a, b, signature), kiv_core.geometric_product_n(a.tolist(), b.tolist(), signature))
    o = rng.normal(size=(20_000, 8))
    assert_same_bits(kiv.octonion_mul(o, o[::-1]), kiv_core.octonion_mul_n(o.tolist(), o[::-1].tolist()))


def test_worked_products():
    e = np.eye(8)
    assert_same_bits(kiv.octonion_mul(e[1], e[2]), e[4])
    assert_same_bits(kiv.octonion_mul(e[2], e[1]), 0.0 - e[4])
    assert_same_bits(kiv.octonion_mul(np.ones(8), np.ones(8)), [-6, 2, 2, 2, 2, 2, 2, 2])
    assert_same_bits(kiv.octonion_mul(e[1], [np.inf, 0, 0, 0, 0, 0, 0, 0]), [0, np.inf, 0, 0, 0, 0, 0, 0])
    assert_same_bits(kiv.geometric_product([0, 1, 0, 0], [0, 0, 1, 0], [1, 1]), [0, 0, 0, 1])
    assert_same_bits(kiv.geometric_product([0, 1, 0, 0], [0, 1, 0, 0], [0, 1]), [0, 0, 0, 0])
    assert_same_bits(kiv.geometric_product(np.eye(8)[7], np.eye(8)[7], [1, 1, 1]), 0.0 - np.eye(8)[0])


def test_broadcasting_out_and_in_place():
    rng = np.random.default_rng(1)
    a = rng.normal(size=(5, 1, 8))
    b = rng.normal(size=(4, 8))
    r = kiv.octonion_mul(a, b)
    assert r.shape == (5, 4, 8)
    assert_same_bits(r[2, 3], kiv.octonion_mul(a[2, 0], b[3]))
    out = np.empty((5, 4, 8))
    assert kiv.geometric_product(a, b, [1, -1, 1], out=out) is out
    assert_same_bits(out[1, 2], kiv.geometric_product(a[1, 0], b[2], [1, -1, 1]))
    x = rng.normal(size=(1000, 8))
    expected = kiv.octonion_mul(x, b[0])
    kiv.octonion_mul(x, b[0], out=x)
    assert_same_bits(x, expected)


def test_gufuncs_are_built_once_per_signature():
    g = kiv.geometric_product_gufunc([1, -1, 0])
    assert isinstance(g, np.ufunc) and g.signature == "(8),(8)->(8)"
    assert kiv.geometric_product_gufunc((1, -1, 0)) is g
    assert kiv.geometric_product_gufunc(np.array([1, -1, 0])) is g
    assert kiv.geometric_product_gufunc([1] * 16).signature == "(65536),(65536)->(65536)"


@pytest.mark.parametrize(
    "signature, error, message",
    [
        ([], ValueError, "signature is empty"),
        ([1, 2], ValueError, "signature entry 1 is 2: entries must be -1, 0 or 1"),
        ([-2], ValueError, "signature entry 0 is -2"),
        ([1, 10**30], ValueError, "signature entry 1 is 1000000000000000000000000000000"),
        ([1, 0.5], ValueError, "signature entry 1 is 0.5"),
        ([1] * 17, ValueError, "signature has 17 entries: at most 16 basis vectors are supported"),
        ("111", TypeError, "signature must be a sequence"),
        (3, TypeError, "not iterable"),
    ],
)
def test_bad_signatures_say_what_is_wrong(signature, error, message):
    with pytest.raises(error, match=message):
        kiv.geometric_product(np.ones(2), np.ones(2), signature)


def test_wrong_shapes_get_numpys_gufunc_errors():
    with pytest.raises(ValueError, match=r"core dimension 0.*\(8\),\(8\)->\(8\).*size 4"):
        kiv.geometric_product(np.ones(4), np.ones(8), [1, 1, 1])
    with pytest.raises(ValueError, match=r"mismatch in its core dimension 0"):
        kiv.octonion_mul(np.ones(7), np.ones(8))
    with pytest.raises(ValueError, match="could not be broadcast|mismatch"):
        kiv.octonion_mul(np.ones((2, 8)), np.ones((3, 8)))
    with pytest.raises(TypeError, match="not supported for the input types"):
        kiv.octonion_mul(np.ones(8, dtype=complex), np.ones(8))
