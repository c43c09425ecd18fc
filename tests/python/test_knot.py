"""KIVKnot: construction and its defaults, pulses and flips, the wrapping count, repr, errors, leaks."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

from kiv_core import KIVKnot, KIVPair, KIVPoint
from helpers import assert_immutable_and_closed
from reference import same

TWO_PI = 6.283185307179586
HALF_PI = 1.5707963267948966
I64_MAX = 2**63 - 1
I64_MIN = -(2**63)
NAN = float("nan")
INF = float("inf")


def state(k):
    p = k.point
    return (p.x, p.y, k.flip_count, k.phase)


def same_state(a, b):
    return a[2] == b[2] and all(same(u, v) for u, v in zip(a[:2] + a[3:], b[:2] + b[3:]))


any_float = st.floats(allow_nan=True, allow_infinity=True)
finite = st.floats(allow_nan=False, allow_infinity=False)
count = st.integers(I64_MIN, I64_MAX)


# ---- construction ------------------------------------------------------------------------------------------


def test_defaults_and_first_pulse():
    k = KIVKnot(KIVPoint(0, 1))
    assert (k.flip_count, k.phase, k.rho) == (0, 0.0, 1.0)
    assert type(k.flip_count) is int and type(k.phase) is float
    assert repr(k) == "KIVKnot(n=0, rho=1.000000, theta=0.0000, point=KIVPoint { x: 0.0, y: 1.0 })"
    p = k.pulse()
    assert state(p) == (1.0, 1.0, 1, HALF_PI)
    assert "theta=1.5708" in repr(p)


@pytest.mark.parametrize(
    "theta, stored, turned",
    [
        (7.0, 0.7168146928204138, math.fmod(0.7168146928204138 + HALF_PI, TWO_PI)),
        (-1.0, -1.0, 0.5707963267948966),
        (-7.0, -0.7168146928204138, math.fmod(-0.7168146928204138 + HALF_PI, TWO_PI)),
        (-0.0, -0.0, HALF_PI),
        (INF, NAN, NAN),
        (NAN, NAN, NAN),
    ],
)
def test_angle_is_reduced_by_fmod(theta, stored, turned):
    k = KIVKnot(KIVPoint(0, 1), theta=theta)
    assert same(k.phase, stored)
    assert same(k.pulse().phase, turned)


@given(any_float, any_float, count, finite)
def test_pulse_moves_the_point_like_the_point_pulse(x, y, n, theta):
    k = KIVKnot(KIVPoint(x, y), n, theta)
    m = KIVPoint(x, y).mirror_pulse()
    p = k.mirror_pulse()
    wrapped = (n + 1 + 2**63) % 2**64 - 2**63
    assert same_state(state(p), (m.x, m.y, wrapped, math.fmod(math.fmod(theta, TWO_PI) + HALF_PI, TWO_PI)))
    assert same_state(state(k.pulse()), state(p))
    assert same(k.rho, abs(KIVPoint(x, y).tension()))


@given(any_float, any_float, count, finite)
def test_flip_is_four_pulses_bit_for_bit(x, y, n, theta):
    k = KIVKnot(KIVPoint(x, y), n, theta)
    four = k.pulse().pulse().pulse().pulse()
    assert same_state(state(k.three_one_flip()), state(four))
    assert same_state(state(k.flip()), state(four))


def test_flip_from_zero_turns_back_to_exactly_zero():
    k = KIVKnot(KIVPoint(0, 1), 5).flip()
    assert same(k.phase, 0.0) and k.flip_count == 9
    phases = []
    k = KIVKnot(KIVPoint(0, 1))
    for _ in range(4):
        k = k.pulse()
        phases.append(k.phase)
    assert phases == [HALF_PI, math.pi, 3 * HALF_PI, 0.0]


@pytest.mark.parametrize(
    "n, after_pulse, after_flip",
    [
        (I64_MAX, I64_MIN, I64_MIN + 3),
        (I64_MAX - 3, I64_MAX - 2, I64_MIN),
        (-1, 0, 3),
        (I64_MIN, I64_MIN + 1, I64_MIN + 4),
    ],
)
def test_count_wraps(n, after_pulse, after_flip):
    k = KIVKnot(KIVPoint(0, 1), n)
    assert k.pulse().flip_count == after_pulse
    assert k.flip().flip_count == after_flip


@pytest.mark.parametrize(
    "n, yield_",
    [(7, 2), (-5, -2), (3, 0), (-3, 0), (8, 4), (-8, -4), (I64_MAX, I64_MAX // 4 * 2), (I64_MIN, I64_MIN // 2)],
)
def test_tread_yield_truncates(n, yield_):
    assert KIVKnot(KIVPoint(0, 1), n=n).tread_yield() == yield_


def test_point_attribute_is_fresh_each_time():
    k = KIVKnot(KIVPoint(2.5, -3.0))
    a, b = k.point, k.point
    assert a is not b
    assert type(a) is KIVPoint and (a.x, a.y) == (b.x, b.y) == (2.5, -3.0)


def test_constructor_copies_the_point():
    p = KIVPoint(1.0, 2.0)
    k = KIVKnot(p, 3, 0.5)
    assert k.point is not p and state(k) == (1.0, 2.0, 3, 0.5)
    assert state(KIVKnot(point=p, theta=1.0, n=True)) == (1.0, 2.0, 1, 1.0)
    assert state(KIVKnot.__new__(KIVKnot, p, theta=7.0)) == (1.0, 2.0, 0, 0.7168146928204138)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: KIVKnot(), TypeError, "KIVKnot.__new__() missing 1 required positional argument: 'point'"),
        (
            lambda: KIVKnot(KIVPoint(0, 1), 1, 2.0, 3),
            TypeError,
            "KIVKnot.__new__() takes from 1 to 3 positional arguments but 4 were given",
        ),
        (
            lambda: KIVKnot(KIVPoint(0, 1), point=KIVPoint(0, 1)),
            TypeError,
            "KIVKnot.__new__() got multiple values for argument 'point'",
        ),
        (lambda: KIVKnot((0.0, 1.0)), TypeError, "argument 'point': 'tuple' object cannot be converted to 'KIVPoint'"),
        (
            lambda: KIVKnot(KIVPair(0, 1)),
            TypeError,
            "argument 'point': 'KIVPair' object cannot be converted to 'KIVPoint'",
        ),
        (
            lambda: KIVKnot.__new__(KIVKnot, 1),
            TypeError,
            "argument 'point': 'int' object cannot be converted to 'KIVPoint'",
        ),
        (lambda: KIVKnot(None), TypeError, "argument 'point': 'NoneType' object cannot be converted to 'KIVPoint'"),
        (
            lambda: KIVKnot(KIVPoint(0, 1), 1.5),
            TypeError,
            "argument 'n': 'float' object cannot be interpreted as an integer",
        ),
        (
            lambda: KIVKnot(KIVPoint(0, 1), None),
            TypeError,
            "argument 'n': 'NoneType' object cannot be interpreted as an integer",
        ),
        (lambda: KIVKnot(KIVPoint(0, 1), theta=None), TypeError, "argument 'theta': must be real number, not NoneType"),
        (lambda: KIVKnot(KIVPoint(0, 1), 2**63), OverflowError, None),
        (
            lambda: KIVKnot(KIVPoint(0, 1)).pulse(1),
            TypeError,
            "KIVKnot.pulse() takes 0 positional arguments but 1 was given",
        ),
        (
            lambda: KIVKnot(KIVPoint(0, 1)).tread_yield(n=1),
            TypeError,
            "KIVKnot.tread_yield() got an unexpected keyword argument 'n'",
        ),
    ],
)
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    else:
        assert not str(info.value).startswith("argument")


# ---- repr --------------------------------------------------------------------------------------------------


def structural(v):
    """Python's float repr with the exponent written without '+' and leading zeros."""
    if math.isnan(v):
        return "NaN"
    text = repr(v)
    if "e" in text:
        mantissa, exponent = text.split("e")
        return f"{mantissa}e{int(exponent)}"
    return text


@pytest.mark.parametrize(
    "x, y, shown",
    [
        (1e16, 1e-5, "x: 1e16, y: 1e-5"),
        (12345.678, -2.25, "x: 12345.678, y: -2.25"),
        (1.5e-5, -0.0, "x: 1.5e-5, y: -0.0"),
        (NAN, -INF, "x: NaN, y: -inf"),
        (9999999999999998.0, 0.0001, "x: 9999999999999998.0, y: 0.0001"),
    ],
)
def test_repr_structural_point(x, y, shown):
    assert repr(KIVKnot(KIVPoint(x, y))).endswith(f"point=KIVPoint {{ {shown} }})")


@given(any_float, any_float, count, any_float)
def test_repr_matches_reference(x, y, n, theta):
    k = KIVKnot(KIVPoint(x, y), n, theta)
    rho, phase = k.rho, k.phase
    fixed = lambda v, d: "NaN" if math.isnan(v) else f"%.{d}f" % v  # noqa: E731
    want = (
        f"KIVKnot(n={n}, rho={fixed(rho, 6)}, theta={fixed(phase, 4)}, "
        f"point=KIVPoint {{ x: {structural(x)}, y: {structural(y)} }})"
    )
    assert repr(k) == want


# ---- the class ---------------------------------------------------------------------------------------------


def test_class_surface():
    assert KIVKnot.__module__ == "kiv_core"
    assert KIVKnot.__text_signature__ == "(point, n=0, theta=0.0)"
    assert KIVKnot.pulse.__doc__ == "Alias for mirror_pulse()."
    assert KIVKnot.flip.__doc__ == "Alias for three_one_flip()."
    for name in ("mirror_pulse", "three_one_flip", "tread_yield", "pulse", "flip"):
        assert getattr(KIVKnot, name).__text_signature__ == "($self)"
    for name in ("mirror_pulse", "three_one_flip", "tread_yield"):
        assert not getattr(KIVKnot, name).__doc__


def test_knots_are_immutable_and_closed():
    k = KIVKnot(KIVPoint(0, 1), 3, 1.0)
    assert_immutable_and_closed(k, ("point", "phase", "flip_count", "rho"))
    with pytest.raises(AttributeError):
        k.n = 1
    assert state(k) == (0.0, 1.0, 3, 1.0)


# ---- leaks -------------------------------------------------------------------------------------------------


def _leak_cases():
    p = KIVPoint(0.5, 2.0)
    n, theta, big = 12345, 0.75, 2**70
    k = KIVKnot(p, n, theta)
    bad = KIVPair(0.0, 1.0)
    return [
        ("new", lambda: KIVKnot(p, n, theta), (p, n, theta, KIVKnot)),
        ("new keywords", lambda: KIVKnot(theta=theta, point=p), (p, theta)),
        ("new bad point", lambda: KIVKnot(bad), (bad,)),
        ("explicit __new__", lambda: KIVKnot.__new__(KIVKnot, p, n=n), (p, n, KIVKnot)),
        ("new bad n", lambda: KIVKnot(p, theta), (p, theta)),
        ("new overflow n", lambda: KIVKnot(p, big), (p, big)),
        ("new extra", lambda: KIVKnot(p, n, theta, n), (p, n, theta)),
        ("pulse", lambda: k.pulse(), (k,)),
        ("flip", lambda: k.flip(), (k,)),
        ("tread_yield", lambda: k.tread_yield(), (k,)),
        ("point", lambda: k.point, (k, KIVPoint)),
        ("getters", lambda: (k.phase, k.flip_count, k.rho), (k,)),
        ("repr", lambda: repr(k), (k,)),
        ("method bad call", lambda: k.pulse(n), (k, n)),
    ]


LEAK_CASES = _leak_cases()
