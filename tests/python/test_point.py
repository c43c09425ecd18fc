"""KIVPoint: construction, the point formulas bit for bit, errors naming the argument, repr, immutability."""

import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

from kiv_core import KIVPair, KIVPoint
from helpers import FloatLike, IndexLike, assert_immutable_and_closed
from reference import (EXP_OVERFLOW, LN_LOG_FLOOR, boost, fixed6, floored_ln, frame_shift, guarded_exp, guarded_ln,
                       mirror_pulse, same, same_seq)

NAN = float("nan")
INF = float("inf")


def coords(p):
    return (p.x, p.y)


any_float = st.floats(allow_nan=True, allow_infinity=True)
finite = st.floats(allow_nan=False, allow_infinity=False)


# ---- construction ----------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((1.5, -2), {}, (1.5, -2.0)),
        ((), {"y": 3, "x": True}, (1.0, 3.0)),
        ((FloatLike(2.5), IndexLike(7)), {}, (2.5, 7.0)),
        ((np.float32(0.5), -1.0), {}, (0.5, -1.0)),
        ((-1.0, -0.0), {}, (-1.0, -0.0)),
    ],
)
def test_constructor_converts_floats(args, kwargs, expected):
    p = KIVPoint(*args, **kwargs)
    assert all(same(a, b) for a, b in zip(coords(p), expected))
    assert type(p.x) is float and type(p.y) is float


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {}, TypeError, "KIVPoint.__new__() missing 2 required positional arguments: 'x' and 'y'"),
        ((1.0,), {}, TypeError, "KIVPoint.__new__() missing 1 required positional argument: 'y'"),
        ((1, 2, 3), {}, TypeError, "KIVPoint.__new__() takes 2 positional arguments but 3 were given"),
        ((1,), {"x": 2}, TypeError, "KIVPoint.__new__() got multiple values for argument 'x'"),
        ((1, 2), {"z": 3}, TypeError, "KIVPoint.__new__() got an unexpected keyword argument 'z'"),
        (("a", 1), {}, TypeError, "argument 'x': must be real number, not str"),
        ((1, None), {}, TypeError, "argument 'y': must be real number, not NoneType"),
        # Errors other than TypeError pass without the argument prefix.
        ((10**400, 1), {}, OverflowError, "int too large to convert to float"),
    ],
)
def test_constructor_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        KIVPoint(*args, **kwargs)
    assert str(info.value) == message


def test_explicit_new_binds_the_same_way():
    # KIVPoint(...) and KIVPoint.__new__(KIVPoint, ...) take different call paths into the same binding.
    assert coords(KIVPoint.__new__(KIVPoint, 1, y=2)) == (1.0, 2.0)
    with pytest.raises(TypeError) as info:
        KIVPoint.__new__(KIVPoint, 1)
    assert str(info.value) == "KIVPoint.__new__() missing 1 required positional argument: 'y'"
    with pytest.raises(TypeError) as info:
        KIVPoint.__new__(KIVPoint, 1, 2, x=3)
    assert str(info.value) == "KIVPoint.__new__() got multiple values for argument 'x'"


def test_value_error_from_conversion_passes_unchanged():
    class Bad:
        def __float__(self):
            raise ValueError("no value")

    with pytest.raises(ValueError, match="^no value$"):
        KIVPoint(Bad(), 0.0)


# ---- formulas ----------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "x, y, tension",
    [
        (0.0, 1.0, 1.0),
        (0.0, 0.0, 691.7755278982137),
        (0.0, -0.0, 691.7755278982137),
        (0.0, -1.0, 1.0),
        (710.0, 2.0, math.exp(math.log(710.0)) - math.log(2.0)),
        (INF, 3.0, INF),
        (-INF, 1.0, 0.0),
        (0.0, INF, -INF),
        (1.0, 1e-310, math.e - math.log(1e-310)),
    ],
)
def test_tension_and_its_alias(x, y, tension):
    p = KIVPoint(x, y)
    assert same(p.tension(), tension)
    assert same(p.kiv(), tension)


@given(any_float, any_float)
def test_tension_matches_formula(x, y):
    assert same(KIVPoint(x, y).tension(), guarded_exp(x) - guarded_ln(y))


@pytest.mark.parametrize(
    "x, slipping", [(710.0, True), (709.78, False), (EXP_OVERFLOW, False), (INF, True), (NAN, False)]
)
def test_is_slipping_threshold(x, slipping):
    assert KIVPoint(x, 1.0).is_slipping() is slipping


def test_mirror_pulse_of_zero_y_and_alias():
    m = KIVPoint(2.0, 0.0).mirror_pulse()
    assert coords(m) == (1e-300, math.exp(2.0) + 690.7755278982137)
    assert coords(KIVPoint(2.0, 0.0).pulse()) == coords(m)
    assert type(m) is KIVPoint


@given(any_float, any_float)
def test_mirror_pulse_and_frame_shift_match_formulas(x, y):
    p = KIVPoint(x, y)
    m = p.mirror_pulse()
    assert same_seq(coords(m), mirror_pulse(x, y))
    # The pulse's new y is the tension of the old point.
    assert same(m.y, p.tension())
    f = p.frame_shift()
    assert same_seq(coords(f), frame_shift(x, y))


def test_subnormal_y_kept_by_pulse_floored_by_frame_shift():
    p = KIVPoint(0.0, 1e-310)
    assert p.mirror_pulse().x == 1e-310
    assert p.frame_shift().x == 1e-300
    assert KIVPoint(0.0, NAN).frame_shift().x == 1e-300
    assert math.isnan(KIVPoint(0.0, NAN).mirror_pulse().x)


@pytest.mark.parametrize(
    "x, y, real, imag",
    [(0.0, -5.0, 1.0, math.log(5.0)), (0.0, 0.0, 1.0, LN_LOG_FLOOR), (0.0, 1e-310, 1.0, math.log(1e-310))],
)
def test_pair_gives_frame_coordinates(x, y, real, imag):
    q = KIVPoint(x, y).pair()
    assert type(q) is KIVPair
    assert (q.real, q.imag) == (real, imag)


@given(any_float, any_float)
def test_deltas_match_formulas(x, y):
    p = KIVPoint(x, y)
    t, s = guarded_exp(x), floored_ln(y)
    assert same(p.euclidean_delta(), math.sqrt(s * s + t * t))
    assert same(p.pair().real, t) and same(p.pair().imag, s)


@given(any_float, any_float, st.floats(-1e10, 1e10))
def test_minkowski_delta_ignores_signature_setting(x, y, c):
    p = KIVPoint(x, y)
    t, u = guarded_exp(x), c * floored_ln(y)
    want = math.sqrt(abs(t * t - u * u))
    assert same(p.minkowski_delta(True, c), want)
    assert same(p.minkowski_delta(plus_signature=False, c=c), want)


def test_minkowski_delta_accepts_numpy_bools():
    p = KIVPoint(0.5, 3.0)
    assert p.minkowski_delta(np.bool_(True), 2.0) == p.minkowski_delta(True, 2.0)
    assert p.minkowski_delta(np.False_, 2.0) == p.minkowski_delta(False, 2.0)


@pytest.mark.parametrize(
    "flag, name", [(1, "int"), (0, "int"), (None, "NoneType"), (np.int64(1), "int64"), ("yes", "str")]
)
def test_minkowski_delta_refuses_non_bools(flag, name):
    with pytest.raises(TypeError) as info:
        KIVPoint(0.5, 3.0).minkowski_delta(flag, 1.0)
    assert str(info.value) == f"argument 'plus_signature': '{name}' object cannot be converted to 'PyBool'"


@given(
    st.floats(-700, 700),
    st.floats(-1e300, 1e300),
    st.floats(-50, 50),
    st.floats(-1e6, 1e6).filter(lambda c: c != 0),
)
def test_boost_matches_formula(x, y, phi, c):
    b = KIVPoint(x, y).boost(phi, c)
    want = boost(x, y, phi, c)
    assert same(b.x, want[0]) and same(b.y, want[1])


def test_boost_edge_cases():
    # phi = 0 gives the point back up to rounding.
    b = KIVPoint(0.75, 2.5).boost(0.0, 3.0)
    assert math.isclose(b.x, 0.75, rel_tol=1e-15) and math.isclose(b.y, 2.5, rel_tol=1e-15)
    assert math.isclose(KIVPoint(0.75, -2.5).boost(0.0, 3.0).y, 2.5, rel_tol=1e-15)
    # c = 0 with s != 0: s / c is infinite, times sinh(0) = 0 is NaN, and t' takes the floor.
    assert KIVPoint(0.75, 2.5).boost(0.0, 0.0).x == math.log(1e-300)
    # A NaN s' passes the clamp: the new y is NaN.
    assert math.isnan(KIVPoint(0.0, NAN).boost(0.5, 1.0).y)
    # Large |s'| is clamped to exp(±709).
    assert KIVPoint(0.0, INF).boost(0.0, 1.0).y == math.exp(709.0)


@pytest.mark.parametrize(
    "x, next_y, tol, result",
    [
        (-40.0, 10.0, 1e-17, True),
        (-40.0, 10.0, 1e-20, False),
        (0.0, 1.0, 0.0, False),
        (3.0, 7.0, 0.0, False),
        (INF, 1.0, 0.0, True),
        (NAN, 1.0, -1.0, True),
        (1.0, NAN, 1.0, False),
        (1.0, 2.0, NAN, False),
    ],
)
def test_conserves_tension(x, next_y, tol, result):
    assert KIVPoint(x, 99.0).conserves_tension(KIVPoint(123.0, next_y), tol) is result
    assert KIVPoint(x, 99.0).conserves_tension(tol=tol, next=KIVPoint(-5.0, next_y)) is result


@pytest.mark.parametrize(
    "other, name", [(3, "int"), ((0.0, 1.0), "tuple"), (KIVPair(0.0, 1.0), "KIVPair"), (None, "NoneType")]
)
def test_conserves_tension_needs_a_point(other, name):
    with pytest.raises(TypeError) as info:
        KIVPoint(0.0, 1.0).conserves_tension(other, 1.0)
    assert str(info.value) == f"argument 'next': '{name}' object cannot be converted to 'KIVPoint'"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda p: p.tension(1), "KIVPoint.tension() takes 0 positional arguments but 1 was given"),
        (lambda p: p.pulse(k=1), "KIVPoint.pulse() got an unexpected keyword argument 'k'"),
        (
            lambda p: p.conserves_tension(p),
            "KIVPoint.conserves_tension() missing 1 required positional argument: 'tol'",
        ),
        (lambda p: p.boost(), "KIVPoint.boost() missing 2 required positional arguments: 'phi' and 'c'"),
        (lambda p: p.boost(1.0, phi=2.0), "KIVPoint.boost() got multiple values for argument 'phi'"),
        (lambda p: p.boost("x", "y"), "argument 'phi': must be real number, not str"),
        (lambda p: p.minkowski_delta(True, None), "argument 'c': must be real number, not NoneType"),
    ],
)
def test_method_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(KIVPoint(1.0, 2.0))
    assert str(info.value) == message


# ---- repr --------------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "x, y, text",
    [
        (1.5, -2, "KIVPoint(x=1.500000, y=-2.000000)"),
        (NAN, INF, "KIVPoint(x=NaN, y=inf)"),
        (-INF, -0.0, "KIVPoint(x=-inf, y=-0.000000)"),
        (1e20, 0.0078125, "KIVPoint(x=100000000000000000000.000000, y=0.007812)"),
    ],
)
def test_repr_examples(x, y, text):
    assert repr(KIVPoint(x, y)) == text


@given(any_float, any_float)
def test_repr_is_six_decimal_fixed_notation(x, y):
    assert repr(KIVPoint(x, y)) == f"KIVPoint(x={fixed6(x)}, y={fixed6(y)})"


# ---- the class ---------------------------------------------------------------------------------------------


def test_class_surface():
    assert KIVPoint.__module__ == "kiv_core"
    assert KIVPoint.__qualname__ == "KIVPoint"
    assert KIVPoint.__text_signature__ == "(x, y)"
    assert KIVPoint.kiv.__doc__ == "Alias for tension() — kiv(x, y) = exp(x) - ln(y)."
    assert KIVPoint.pulse.__doc__ == "Alias for mirror_pulse()."
    assert KIVPoint.pair.__doc__ == "Returns (exp(x), ln(|y|)) as an KIVPair — canonical frame coordinates."
    assert KIVPoint.euclidean_delta.__doc__ == "Euclidean delta: sqrt(exp(2x) + (ln y)^2)."
    assert KIVPoint.minkowski_delta.__doc__ == (
        "Minkowski interval sqrt(|exp(2x) - (c*ln y)^2|).\n"
        "plus_signature=true means (+---): time-like when exp(2x) > (c*ln y)^2."
    )
    assert KIVPoint.boost.__doc__ == (
        "Lorentz boost by rapidity phi. Returns new KIVPoint with identical Δ_M.\n"
        "Boost: t' = t*cosh(phi) - (x/c)*sinh(phi), x' = x*cosh(phi) - t*c*sinh(phi)\n"
        "where t = exp(x_coord), x = ln(y_coord)."
    )
    signatures = {
        "tension": "($self)",
        "mirror_pulse": "($self)",
        "frame_shift": "($self)",
        "is_slipping": "($self)",
        "conserves_tension": "($self, next, tol)",
        "minkowski_delta": "($self, plus_signature, c)",
        "boost": "($self, phi, c)",
    }
    for name, signature in signatures.items():
        assert getattr(KIVPoint, name).__text_signature__ == signature
    for name in ("tension", "mirror_pulse", "frame_shift", "is_slipping", "conserves_tension"):
        assert not getattr(KIVPoint, name).__doc__


def test_points_are_immutable_and_closed():
    p = KIVPoint(1.0, 2.0)
    assert_immutable_and_closed(p, ("x", "y"))
    assert coords(p) == (1.0, 2.0)
    assert p.mirror_pulse() is not p


# ---- leaks -------------------------------------------------------------------------------------------------


def _leak_cases():
    x, y, tol, c = 1.25, 3.5, 1e-9, 2.0
    p = KIVPoint(x, y)
    bad = object()
    return [
        ("new", lambda: KIVPoint(x, y), (x, y, KIVPoint)),
        ("new by keyword", lambda: KIVPoint(y=y, x=x), (x, y)),
        ("explicit __new__", lambda: KIVPoint.__new__(KIVPoint, x, y=y), (x, y, KIVPoint)),
        ("explicit __new__ bad", lambda: KIVPoint.__new__(KIVPoint, bad, y), (bad, y)),
        ("new wrong arg", lambda: KIVPoint(x, bad), (x, bad)),
        ("new missing", lambda: KIVPoint(x), (x,)),
        ("tension", lambda: p.tension(), (p,)),
        ("pulse", lambda: p.mirror_pulse(), (p, KIVPoint)),
        ("pair", lambda: p.pair(), (p, KIVPair)),
        ("conserves", lambda: p.conserves_tension(p, tol), (p, tol)),
        ("conserves bad next", lambda: p.conserves_tension(bad, tol), (p, bad, tol)),
        ("conserves bad tol", lambda: p.conserves_tension(p, bad), (p, bad)),
        ("minkowski", lambda: p.minkowski_delta(True, c), (p, c)),
        ("minkowski bad flag", lambda: p.minkowski_delta(bad, c), (p, bad, c)),
        ("boost", lambda: p.boost(phi=c, c=c), (p, c)),
        ("extra keyword", lambda: p.tension(k=c), (p, c)),
        ("getters", lambda: (p.x, p.y), (p,)),
        ("repr", lambda: repr(p), (p,)),
    ]


LEAK_CASES = _leak_cases()
