"""KIVPair: constructors, arithmetic bit for bit, tolerance equality, NotImplemented rules, repr, leaks."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

from kiv_core import KIVPair, KIVPoint
from helpers import assert_immutable_and_closed
from reference import fixed6, same

NAN = float("nan")
INF = float("inf")


def parts(p):
    return (p.real, p.imag)


def same_pair(p, want):
    return type(p) is KIVPair and same(p.real, want[0]) and same(p.imag, want[1])


any_float = st.floats(allow_nan=True, allow_infinity=True)
finite = st.floats(allow_nan=False, allow_infinity=False)


# ---- reference formulas ------------------------------------------------------------------------------------


def ref_mul(a, b, c, d):
    return (a * c - b * d, b * c + a * d)


def ref_div(a, b, c, d):
    den = d * d + c * c
    if abs(den) < 1e-300:
        den = 1e-300
    return ((a * c + b * d) / den, (b * c - a * d) / den)


# ---- construction ------------------------------------------------------------------------------------------


def test_constructors_and_constants():
    assert parts(KIVPair(1, -2)) == (1.0, -2.0)
    assert parts(KIVPair(imag=4, real=True)) == (1.0, 4.0)
    assert parts(KIVPair.from_values(0.5, imag=-0.25)) == (0.5, -0.25)
    assert parts(KIVPair.unit_i()) == (0.0, 1.0)
    assert parts(KIVPair.one()) == (1.0, 0.0)
    assert parts(KIVPair.zero()) == (0.0, 0.0)
    assert parts(KIVPair.__new__(KIVPair, imag=2, real=1)) == (1.0, 2.0)
    # Static methods are reachable through an instance too.
    assert parts(KIVPair(9, 9).one()) == (1.0, 0.0)


@pytest.mark.parametrize(
    "r, theta, want",
    [(2.0, 0.0, (2.0, 0.0)), (-2.0, 0.0, (-2.0, -0.0)), (3.0, 1.25, (math.cos(1.25) * 3.0, math.sin(1.25) * 3.0))],
)
def test_from_polar(r, theta, want):
    assert same_pair(KIVPair.from_polar(r, theta=theta), want)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: KIVPair(1.0), TypeError, "KIVPair.__new__() missing 1 required positional argument: 'imag'"),
        (lambda: KIVPair(1, 2, 3), TypeError, "KIVPair.__new__() takes 2 positional arguments but 3 were given"),
        (lambda: KIVPair("1", 2), TypeError, "argument 'real': must be real number, not str"),
        (lambda: KIVPair(1, imag=[]), TypeError, "argument 'imag': must be real number, not list"),
        (
            lambda: KIVPair.from_values(),
            TypeError,
            "KIVPair.from_values() missing 2 required positional arguments: 'real' and 'imag'",
        ),
        (lambda: KIVPair.from_polar(1.0, theta=None), TypeError, "argument 'theta': must be real number, not NoneType"),
        (lambda: KIVPair.from_polar(None, 1.0), TypeError, "argument 'r': must be real number, not NoneType"),
        (lambda: KIVPair.unit_i(1), TypeError, "KIVPair.unit_i() takes 0 positional arguments but 1 was given"),
        (lambda: KIVPair.zero(x=1), TypeError, "KIVPair.zero() got an unexpected keyword argument 'x'"),
        (
            lambda: KIVPair(1, 2).rotate_phase(),
            TypeError,
            "KIVPair.rotate_phase() missing 1 required positional argument: 'angle'",
        ),
        (lambda: KIVPair(1, 2).rotate_phase("a"), TypeError, "argument 'angle': must be real number, not str"),
        (
            lambda: KIVPair(1, 2).conjugate(1),
            TypeError,
            "KIVPair.conjugate() takes 0 positional arguments but 1 was given",
        ),
        (lambda: KIVPair(10**400, 0), OverflowError, "int too large to convert to float"),
        (
            lambda: KIVPair.__new__(KIVPair, 1, 2, 3),
            TypeError,
            "KIVPair.__new__() takes 2 positional arguments but 3 were given",
        ),
    ],
)
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


# ---- attributes and methods --------------------------------------------------------------------------------


def test_attributes():
    p = KIVPair(3.0, -4.0)
    assert (p.real, p.imag, p.real_tension, p.imag_tension) == (3.0, -4.0, 3.0, -4.0)
    assert p.modulus == 5.0 and abs(p) == 5.0
    assert p.argument == math.atan2(-4.0, 3.0)


@pytest.mark.parametrize(
    "pair, modulus, argument",
    [
        ((1e200, 0.0), INF, 0.0),
        ((-1.0, 0.0), 1.0, math.pi),
        ((-1.0, -0.0), 1.0, -math.pi),
        ((3e-200, -4e-200), 0.0, math.atan2(-4e-200, 3e-200)),  # no rescaling: the squares underflow
        ((NAN, 1.0), NAN, NAN),
    ],
)
def test_modulus_and_argument_edges(pair, modulus, argument):
    p = KIVPair(*pair)
    assert same(abs(p), modulus)
    assert same(p.modulus, modulus)
    assert same(p.argument, argument)


def test_conjugate_flips_the_sign_bit():
    assert same_pair(KIVPair(3, 0).conjugate(), (3.0, -0.0))
    assert same_pair(KIVPair(3, -0.0).conjugate(), (3.0, 0.0))
    assert math.isnan(KIVPair(0, NAN).conjugate().imag)


@given(any_float, any_float, finite)
def test_rotate_phase_matches_formula(a, b, angle):
    s, k = math.sin(angle), math.cos(angle)
    assert same_pair(KIVPair(a, b).rotate_phase(angle), (k * a - s * b, k * b + s * a))
    assert same_pair(KIVPair(a, b).rotate_phase(angle=angle), (k * a - s * b, k * b + s * a))


def test_rotate_phase_by_two_pi_is_close_not_identical():
    p = KIVPair(1.0, 2.0).rotate_phase(2 * math.pi)
    assert p == KIVPair(1.0, 2.0)
    assert parts(p) != (1.0, 2.0)


# ---- arithmetic --------------------------------------------------------------------------------------------


@given(any_float, any_float, any_float, any_float)
def test_arithmetic_matches_formulas(a, b, c, d):
    p, q = KIVPair(a, b), KIVPair(c, d)
    assert same_pair(p + q, (a + c, b + d))
    assert same_pair(p - q, (a - c, b - d))
    assert same_pair(p * q, ref_mul(a, b, c, d))
    assert same_pair(p / q, ref_div(a, b, c, d))


@pytest.mark.parametrize(
    "left, right, want",
    [
        ((1, 1), (0, 0), (0.0, 0.0)),
        ((0, 0), (0, 0), (0.0, 0.0)),
        ((1, 0), (1e-160, 0), (1e140, 0.0)),
        ((1, 0), (NAN, 0), (NAN, NAN)),
        ((4, 2), (1, 1), (3.0, -1.0)),
    ],
)
def test_division_floors_the_squared_modulus(left, right, want):
    assert same_pair(KIVPair(*left) / KIVPair(*right), want)


def test_multiplication_by_i_and_augmented_assignment():
    assert same_pair(KIVPair(1, 0) * KIVPair.unit_i(), (0.0, 1.0))
    p = KIVPair(1, 2)
    original = p
    p += KIVPair(1, 1)
    assert parts(p) == (2.0, 3.0) and p is not original and parts(original) == (1.0, 2.0)


@pytest.mark.parametrize("other", [1.0, 1, complex(1, 2), (1, 2), None, KIVPoint(1, 2)])
@pytest.mark.parametrize("op", ["+", "-", "*", "/"])
def test_arithmetic_with_non_pairs_is_unsupported(op, other):
    p = KIVPair(1, 2)
    method = {"+": "__add__", "-": "__sub__", "*": "__mul__", "/": "__truediv__"}[op]
    assert getattr(p, method)(other) is NotImplemented
    for left, right in ((p, other), (other, p)):
        # The interpreter's own TypeError (sequences word it their own way).
        with pytest.raises(TypeError):
            eval(f"left {op} right", {"left": left, "right": right})


def test_unsupported_operand_message_is_the_interpreters():
    with pytest.raises(TypeError, match=r"unsupported operand type\(s\) for \+: 'kiv_core.KIVPair' and 'float'"):
        KIVPair(1, 2) + 1.0
    with pytest.raises(TypeError, match=r"unsupported operand type\(s\) for \+: 'float' and 'kiv_core.KIVPair'"):
        1.0 + KIVPair(1, 2)


def test_no_unary_minus_power_or_reflected_forms():
    p = KIVPair(1, 2)
    with pytest.raises(TypeError):
        -p
    with pytest.raises(TypeError):
        p**2
    assert not hasattr(p, "__radd__") or p.__radd__(1.0) is NotImplemented


# ---- comparison --------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "left, right, equal",
    [
        ((0, 0), (5e-10, 0), True),
        ((0, 0), (1e-9, 0), False),
        ((0, 0), (0, -9.99e-10), True),
        ((1, 2), (1, 2), True),
        ((1e20, 0), (1e20 + 1e5, 0), False),  # the tolerance is absolute
        ((INF, 0), (INF, 0), False),  # inf - inf is NaN
        ((NAN, 0), (NAN, 0), False),
    ],
)
def test_equality_with_tolerance(left, right, equal):
    p, q = KIVPair(*left), KIVPair(*right)
    assert (p == q) is equal
    assert (p != q) is (not equal)


def test_nan_pair_is_unequal_to_itself():
    p = KIVPair(NAN, 0)
    assert (p == p) is False
    assert (p != p) is True


@pytest.mark.parametrize("other", [(1, 2), 3, complex(1, 2), None, KIVPoint(1, 2)])
def test_pairs_never_equal_non_pairs(other):
    p = KIVPair(1, 2)
    assert (p == other) is False and (other == p) is False
    assert (p != other) is True and (other != p) is True
    assert p.__eq__(other) is NotImplemented


def test_inequality_goes_through_the_equality_protocol():
    class AlwaysEqual:
        def __eq__(self, other):
            return True

    class Broken:
        def __eq__(self, other):
            raise RuntimeError("no equality")

    class BadTruth:
        def __bool__(self):
            raise ValueError("no truth")

    class WeirdEqual:
        def __eq__(self, other):
            return BadTruth()

    p = KIVPair(1, 2)
    assert (p != AlwaysEqual()) is False
    with pytest.raises(RuntimeError, match="no equality"):
        p != Broken()
    with pytest.raises(ValueError, match="no truth"):
        p != WeirdEqual()


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_unsupported(op):
    p = KIVPair(1, 2)
    assert getattr(p, {"<": "__lt__", "<=": "__le__", ">": "__gt__", ">=": "__ge__"}[op])(p) is NotImplemented
    with pytest.raises(TypeError, match="not supported between instances"):
        eval(f"p {op} p", {"p": p})


def test_pairs_are_unhashable():
    assert KIVPair.__hash__ is None
    with pytest.raises(TypeError, match="unhashable type"):
        hash(KIVPair(1, 2))


# ---- repr --------------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "pair, text",
    [
        ((1, -2), "KIVPair(1.000000 - 2.000000i)"),
        ((0.5, -0.0), "KIVPair(0.500000 + 0.000000i)"),
        ((-0.0, NAN), "KIVPair(-0.000000 - NaNi)"),
        ((INF, -INF), "KIVPair(inf - infi)"),
        ((1e22, 1e-7), "KIVPair(10000000000000000000000.000000 + 0.000000i)"),
    ],
)
def test_repr_examples(pair, text):
    assert repr(KIVPair(*pair)) == text


@given(any_float, any_float)
def test_repr_matches_fixed_formatting(a, b):
    sign = "-" if b < 0 or math.isnan(b) else "+"
    assert repr(KIVPair(a, b)) == f"KIVPair({fixed6(a)} {sign} {fixed6(abs(b))}i)"


# ---- the class ---------------------------------------------------------------------------------------------


def test_class_surface():
    assert KIVPair.__module__ == "kiv_core"
    assert KIVPair.__text_signature__ == "(real, imag)"
    signatures = {
        "from_values": "(real, imag)",
        "from_polar": "(r, theta)",
        "unit_i": "()",
        "one": "()",
        "zero": "()",
        "rotate_phase": "($self, angle)",
        "conjugate": "($self)",
    }
    for name, signature in signatures.items():
        method = KIVPair.__dict__[name]
        assert getattr(KIVPair, name).__text_signature__ == signature
        assert not getattr(KIVPair, name).__doc__
        assert isinstance(method, staticmethod) == (not signature.startswith("($self"))


def test_pairs_are_immutable_and_closed():
    p = KIVPair(1.0, 2.0)
    assert_immutable_and_closed(p, ("real", "imag", "real_tension", "imag_tension", "modulus", "argument"))
    assert parts(p) == (1.0, 2.0)


# ---- leaks -------------------------------------------------------------------------------------------------


class _AlwaysEqual:
    def __eq__(self, other):
        return True


def _leak_cases():
    a, b = 1.25, -3.5
    p, q = KIVPair(a, b), KIVPair(b, a)
    other, eq = 2.5, _AlwaysEqual()
    nan_pair = KIVPair(float("nan"), a)
    return [
        ("new", lambda: KIVPair(a, b), (a, b, KIVPair)),
        ("new bad", lambda: KIVPair(a, "x"), (a,)),
        ("explicit __new__", lambda: KIVPair.__new__(KIVPair, real=a, imag=b), (a, b, KIVPair)),
        ("from_polar", lambda: KIVPair.from_polar(r=a, theta=b), (a, b)),
        ("constants", lambda: (KIVPair.one(), KIVPair.zero(), KIVPair.unit_i()), (KIVPair,)),
        ("add", lambda: p + q, (p, q, KIVPair)),
        ("mul", lambda: p * q, (p, q)),
        ("div", lambda: p / q, (p, q)),
        ("sub non-pair", lambda: p - other, (p, other)),
        ("reflected non-pair", lambda: other * p, (p, other)),
        ("direct NotImplemented", lambda: p.__add__(other), (p, other)),
        ("eq", lambda: p == q, (p, q)),
        ("ne", lambda: p != q, (p, q)),
        ("ne self nan", lambda: nan_pair != nan_pair, (nan_pair,)),
        ("eq non-pair", lambda: p == other, (p, other)),
        ("ne non-pair", lambda: p != other, (p, other)),
        ("ne custom eq", lambda: p != eq, (p, eq)),
        ("ordering", lambda: p < q, (p, q)),
        ("abs", lambda: abs(p), (p,)),
        ("getters", lambda: (p.real, p.imag, p.real_tension, p.imag_tension, p.modulus, p.argument), (p,)),
        ("rotate", lambda: p.rotate_phase(a), (p, a)),
        ("rotate bad", lambda: p.rotate_phase(angle=None), (p,)),
        ("conjugate", lambda: p.conjugate(), (p,)),
        ("repr", lambda: repr(p), (p,)),
    ]


LEAK_CASES = _leak_cases()
