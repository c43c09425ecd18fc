"""Batch physics functions: values against straightforward Python forms, argument errors, the sizing
failures of pulse trajectories, thread-count independence and leaks."""

import math
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kiv_core
from procs import run_python
from kiv_core import boost_n, christoffel_batch_n, rotate_phase_n, schrodinger_step_n, simulate_pulses_n
from helpers import FloatLike, PanicException
from reference import LN_LOG_FLOOR, boost, christoffel, guarded_exp, guarded_ln, mirror_pulse, rotate, same, same_seq

E = math.e
NAN = math.nan
INF = math.inf
MAX_STEPS = 384307168202282325


any_float = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True)
# Mostly ordinary magnitudes, where every rounding step shows, with the awkward values mixed in.
coordinate = st.one_of(st.floats(-8.0, 8.0), st.floats(-8.0, 8.0), any_float)
point = st.tuples(coordinate, coordinate)


# ---- values -------------------------------------------------------------------------------------------


def test_boost_takes_the_shorter_length_and_returns_tuples():
    points = [(0.0, 1.0), (1.0, 2.0), (2.0, 3.0)]
    got = boost_n(points, [0.1, 0.2], 1.0)
    assert type(got) is list and len(got) == 2
    assert all(type(p) is tuple and len(p) == 2 and all(type(v) is float for v in p) for p in got)
    assert all(same_seq(g, boost(*p, phi, 1.0)) for g, p, phi in zip(got, points, [0.1, 0.2]))
    assert boost_n([], [1.0], 1.0) == [] and boost_n(points, [], 1.0) == []


def test_boost_with_zero_rapidity_keeps_the_point_up_to_rounding():
    (x, y), (x0, y0), (xz, yz) = boost_n([(0.5, 2.0), (-1.0, -3.0), (0.0, 0.0)], [0.0, 0.0, 0.0], 2.0)
    assert x == pytest.approx(0.5) and y == pytest.approx(2.0)
    assert x0 == pytest.approx(-1.0) and y0 == pytest.approx(3.0)
    assert yz == pytest.approx(1e-300)
    # c = 0 with s ≠ 0: s / c is infinite, sinh(0) = 0 makes t' NaN, and x' takes the floor.
    ((xc, _),) = boost_n([(0.0, 2.0)], [0.0], 0.0)
    assert xc == LN_LOG_FLOOR


@pytest.mark.skipif(not hasattr(kiv_core, "KIVPoint"), reason="KIVPoint not registered on this branch")
def test_boost_n_equals_the_point_method():
    points, phis = [(0.3, 2.0), (-2.0, -0.5), (710.0, 0.0)], [0.7, -1.2, 3.0]
    for (x, y), phi, got in zip(points, phis, boost_n(points, phis, 1.5)):
        moved = kiv_core.KIVPoint(x, y).boost(phi, 1.5)
        assert same_seq(got, (moved.x, moved.y))


@settings(max_examples=300, deadline=None)
@given(st.lists(point, max_size=20), st.lists(st.floats(-50, 50), max_size=20),
       st.one_of(st.floats(0.1, 10.0), st.floats(-1e6, 1e6)).filter(lambda c: c != 0.0))
def test_boost_matches_the_formula(points, phis, c):
    got = boost_n(points, phis, c)
    assert len(got) == min(len(points), len(phis))
    assert all(same_seq(g, boost(x, y, phi, c)) for g, (x, y), phi in zip(got, points, phis))


def test_rotate_phase_quarter_turn():
    assert rotate_phase_n([(1.0, 0.0)], [math.pi / 2]) == [(6.123233995736766e-17, 1.0)]
    assert rotate_phase_n([(1.0, 0.0), (2.0, 2.0)], [0.0]) == [(1.0, 0.0)]


@settings(max_examples=200, deadline=None)
@given(st.lists(point, max_size=20), st.lists(any_float, max_size=20))
def test_rotate_phase_matches_the_formula(pairs, angles):
    got = rotate_phase_n(pairs, angles)
    assert len(got) == min(len(pairs), len(angles))
    assert all(same_seq(g, rotate(re, im, a)) for g, (re, im), a in zip(got, pairs, angles))


def test_schrodinger_step():
    psi = [(0.3, -0.7), (1.0, 2.0)]
    assert schrodinger_step_n(psi, [0.0, 0.0, 5.0], 0.1, 1.0) == psi
    # v·dt/hbar = π negates psi up to rounding.
    for (re, im), (r0, i0) in zip(schrodinger_step_n(psi, [math.pi, math.pi], 2.0, 2.0), psi):
        assert re == pytest.approx(-r0, abs=1e-15) and im == pytest.approx(-i0, abs=1e-15)
    # The angle is ((−v)·dt)/hbar, worked out before the rotation.
    v, dt, hbar = 0.37, 1.9, 0.23
    ((re, im),) = schrodinger_step_n([(0.6, 0.8)], [v], dt, hbar)
    assert same_seq((re, im), rotate(0.6, 0.8, ((-v) * dt) / hbar))
    assert all(math.isnan(c) for c in schrodinger_step_n([(1.0, 1.0)], [1.0], 1.0, 0.0)[0])


def test_simulate_pulses():
    assert simulate_pulses_n(0.0, 1.0, 2) == [(0.0, 1.0, 1.0), (1.0, 1.0, E), (1.0, E, E - 1.0)]
    assert simulate_pulses_n(x0=0.5, y0=-2.0, n_pulses=0) == [(0.5, -2.0, guarded_exp(0.5) - math.log(2.0))]
    first, second = simulate_pulses_n(2, 0, 1)
    assert first == (2.0, 0.0, math.exp(2.0) + 690.7755278982137)
    assert second[0] == 1e-300
    assert all(type(v) is float for entry in (first, second) for v in entry)


@settings(max_examples=200, deadline=None)
@given(any_float, any_float, st.integers(0, 30))
def test_simulate_pulses_follows_the_mirror_pulse(x0, y0, n):
    got = simulate_pulses_n(x0, y0, n)
    assert len(got) == n + 1
    x, y = x0, y0
    for k, entry in enumerate(got):
        if k > 0:
            x, y = mirror_pulse(x, y)
        assert same_seq(entry, (x, y, guarded_exp(x) - guarded_ln(y))), k


CHRISTOFFEL_AT_UNIT_RADIUS = [
    ((1, 1, 1), -0.5), ((0, 0, 1), 0.5), ((0, 1, 0), 0.5), ((1, 0, 0), 0.125),
    ((0, 0, 0), 0.0), ((1, 0, 1), 0.0), ((2, 2, 2), 0.0), ((0, 1, 1), 0.0), ((2**64 - 1, 0, 1), 0.0),
]


@pytest.mark.parametrize("indices, expected", CHRISTOFFEL_AT_UNIT_RADIUS)
def test_christoffel_table(indices, expected):
    assert christoffel_batch_n([(0.0, 123.0), (0.0, NAN)], *indices, 0.5) == [expected, expected]


def test_christoffel_radius_floor_and_threshold():
    (inside,) = christoffel_batch_n([(-1.0, 0.0)], 0, 0, 1, 1.0)
    assert 4e8 < inside < 6e8
    assert christoffel_batch_n([(5.0, 0.0)] * 2, 1, 1, 1, 1e300) == [0.0, 0.0]
    # The threshold is 709.78: just above it the radius is about 709.781, not 1.8e308.
    above, at = christoffel_batch_n([(709.781, 0.0), (709.78, 0.0)], 1, 0, 0, 1.0)
    assert above > 1e-7 and at == 0.0
    assert christoffel_batch_n([], 0, 0, 1, 1.0) == []


@settings(max_examples=300, deadline=None)
@given(st.lists(point, max_size=10), st.sampled_from([(0, 0, 1), (0, 1, 0), (1, 0, 0), (1, 1, 1), (1, 0, 1)]),
       any_float)
def test_christoffel_matches_the_formula(points, indices, rs):
    got = christoffel_batch_n(points, *indices, rs)
    assert len(got) == len(points)
    assert all(same(g, christoffel(x, *indices, rs)) for g, (x, _) in zip(got, points))


# ---- argument errors ----------------------------------------------------------------------------------


def test_numbers_of_any_float_kind_are_accepted():
    assert boost_n(((0, True),), (FloatLike(0.25),), 1) == boost_n([(0.0, 1.0)], [0.25], 1.0)
    assert christoffel_batch_n([(0.0, 0.0)], True, False, False, 0.5) == [0.125]


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda: boost_n([(1.0, 2.0, 3.0)], [0.1], 1.0), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (lambda: boost_n([(1.0,)], [0.1], 1.0), ValueError, "expected tuple of length 2, but got tuple of length 1"),
        (lambda: boost_n([[1.0, 2.0]], [0.1], 1.0), TypeError, "argument 'points': 'list' object cannot be converted to 'PyTuple'"),
        (lambda: boost_n("ab", [0.1], 1.0), TypeError, "argument 'points': Can't extract `str` to `Vec`"),
        (lambda: boost_n([(0.0, "y")], [0.1], 1.0), TypeError, "argument 'points': must be real number, not str"),
        (lambda: boost_n([(0.0, 1.0)], [0.1, None], 1.0), TypeError, "argument 'phis': must be real number, not NoneType"),
        (lambda: boost_n([(0.0, 1.0)], [0.1], "c"), TypeError, "argument 'c': must be real number, not str"),
        (lambda: boost_n(), TypeError, "boost_n() missing 3 required positional arguments: 'points', 'phis', and 'c'"),
        (lambda: boost_n([], [], 1.0, 2.0), TypeError, "boost_n() takes 3 positional arguments but 4 were given"),
        (lambda: rotate_phase_n([(1.0, 0.0)], None), TypeError, "argument 'angles': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: rotate_phase_n(pairs=[0.5], angles=[0.0]), TypeError, "argument 'pairs': 'float' object cannot be converted to 'PyTuple'"),
        (lambda: rotate_phase_n([(1.0, 0.0)], [0.0], angle=1), TypeError, "rotate_phase_n() got an unexpected keyword argument 'angle'"),
        (lambda: schrodinger_step_n([(1.0, 0.0)], [0.0], 0.1), TypeError, "schrodinger_step_n() missing 1 required positional argument: 'hbar'"),
        (lambda: schrodinger_step_n([(1.0, 0.0)], [0.0], None, 1.0), TypeError, "argument 'dt': must be real number, not NoneType"),
        (lambda: schrodinger_step_n(psi={(1.0, 0.0)}, v=[0.0], dt=0.1, hbar=1.0), TypeError, "argument 'psi': 'set' object cannot be converted to 'Sequence'"),
        (lambda: simulate_pulses_n(0.0, 1.0, 2.0), TypeError, "argument 'n_pulses': 'float' object cannot be interpreted as an integer"),
        (lambda: simulate_pulses_n(0.0, 1.0, "3"), TypeError, "argument 'n_pulses': 'str' object cannot be interpreted as an integer"),
        (lambda: simulate_pulses_n("0", 1.0, 3), TypeError, "argument 'x0': must be real number, not str"),
        (lambda: christoffel_batch_n([(0.0, 0.0)], 0, 0.0, 1, 1.0), TypeError, "argument 'mu': 'float' object cannot be interpreted as an integer"),
        (lambda: christoffel_batch_n([(0.0, 0.0)], 0, 0, 1), TypeError, "christoffel_batch_n() missing 1 required positional argument: 'rs'"),
        (lambda: christoffel_batch_n([(0.0, 0.0)], 0, 0, 1, rs=1.0, lam=0), TypeError, "christoffel_batch_n() got multiple values for argument 'lam'"),
    ],
)
def test_errors_have_exact_texts(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call",
    [
        lambda: simulate_pulses_n(0.0, 1.0, -1),
        lambda: christoffel_batch_n([(0.0, 0.0)], -1, 0, 1, 1.0),
        lambda: christoffel_batch_n([(0.0, 0.0)], 0, 0, 2**64, 1.0),
    ],
)
def test_counts_outside_the_unsigned_range_overflow_without_prefix(call):
    with pytest.raises(OverflowError) as info:
        call()
    assert not str(info.value).startswith("argument")


def test_a_point_object_is_not_a_point_tuple():
    if not hasattr(kiv_core, "KIVPoint"):
        pytest.skip("KIVPoint not registered on this branch")
    with pytest.raises(TypeError, match="^argument 'points': 'KIVPoint' object cannot be converted to 'PyTuple'$"):
        boost_n([kiv_core.KIVPoint(0.0, 1.0)], [0.0], 1.0)


class Lying(tuple):
    """A tuple subclass whose Python-level length and items disagree with its contents."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        return 99.0


def test_tuple_subclasses_are_point_tuples_read_by_their_contents():
    from collections import namedtuple

    P = namedtuple("P", "x y")
    want = boost_n([(0.5, 2.0), (1.0, -3.0)], [0.25, 0.5], 1.5)
    assert boost_n([P(0.5, 2.0), Lying((1.0, -3.0))], [0.25, 0.5], 1.5) == want
    assert rotate_phase_n((P(1.0, 0.0),), [0.0]) == [(1.0, 0.0)]
    with pytest.raises(ValueError) as info:
        schrodinger_step_n([Lying((1.0, 2.0, 3.0))], [0.0], 0.1, 1.0)
    assert str(info.value) == "expected tuple of length 2, but got tuple of length 3"


def test_surplus_items_are_still_converted():
    with pytest.raises(TypeError, match="argument 'phis'"):
        boost_n([(0.0, 1.0)], [0.1, "surplus"], 1.0)
    with pytest.raises(ValueError):
        rotate_phase_n([(0.0, 1.0), (1.0, 2.0, 3.0)], [0.1])


# ---- pulse trajectory sizing --------------------------------------------------------------------------


def test_capacity_overflow_is_a_panic():
    for n in (MAX_STEPS, MAX_STEPS + 1, 2**64 - 2):
        with pytest.raises(PanicException) as info:
            simulate_pulses_n(0.0, 1.0, n)
        assert info.value.args == ("capacity overflow",)


@pytest.mark.parametrize("n", [MAX_STEPS - 1, 10**12, 10**10, 2**64 - 1])
def test_counts_no_machine_can_hold_raise_memory_error_at_once(n):
    with pytest.raises(MemoryError):
        simulate_pulses_n(0.0, 1.0, n)
    # Nothing was left behind: an ordinary call still works.
    assert len(simulate_pulses_n(0.0, 1.0, 1000)) == 1001


# ---- threads and leaks --------------------------------------------------------------------------------

DIGEST_SCRIPT = textwrap.dedent(
    """
    import hashlib, math, random, kiv_core
    rng = random.Random(5)
    pts = [(rng.uniform(-800, 800), rng.uniform(-5, 5)) for _ in range(60_000)]
    for i in range(0, len(pts), 97):
        pts[i] = (math.nan, 0.0) if i % 2 else (math.inf, -0.0)
    phis = [rng.uniform(-3, 3) for _ in pts]
    out = kiv_core.boost_n(pts, phis, 1.25)
    out += [(v, v) for v in kiv_core.christoffel_batch_n(pts, 1, 0, 0, 0.75)]
    print(hashlib.sha256(repr(out).encode()).hexdigest())
    """
)


def test_pool_results_do_not_depend_on_the_thread_count():
    digests = {n: run_python(DIGEST_SCRIPT, threads=n) for n in (1, 2, 5)}
    assert len(set(digests.values())) == 1, digests


# ---- leaks: the central leak check (test_leaks) runs these rows ----

_PTS = [(0.5, 2.0), (-1.0, 0.0)] * 20
_PHIS = [0.1] * 40
_BAD_PTS = [(0.5, 2.0), [1.0, 2.0]]
_BAD_FLOAT = [(0.5, object())]
LEAK_CASES = [
    ("boost_n", lambda: boost_n(_PTS, _PHIS, 1.5), (_PTS, _PHIS)),
    ("boost_n-list-item", lambda: boost_n(_BAD_PTS, _PHIS, 1.5), (_BAD_PTS, _PHIS)),
    ("boost_n-missing", lambda: boost_n(_PTS, _PHIS), (_PTS, _PHIS)),
    ("rotate_phase_n", lambda: rotate_phase_n(_PTS, _PHIS), (_PTS, _PHIS)),
    ("rotate_phase_n-bad-float", lambda: rotate_phase_n(_BAD_FLOAT, _PHIS), (_BAD_FLOAT,)),
    ("schrodinger_step_n", lambda: schrodinger_step_n(_PTS, _PHIS, 0.1, 1.0), (_PTS, _PHIS)),
    ("schrodinger_step_n-3-tuple", lambda: schrodinger_step_n([(1.0, 2.0, 3.0)], _PHIS, 0.1, 1.0), (_PHIS,)),
    ("simulate_pulses_n", lambda: simulate_pulses_n(0.0, 1.0, 50), ()),
    ("simulate_pulses_n-capacity-overflow", lambda: simulate_pulses_n(0.0, 1.0, MAX_STEPS), ()),
    ("simulate_pulses_n-memory", lambda: simulate_pulses_n(0.0, 1.0, 10**12), ()),
    ("simulate_pulses_n-negative", lambda: simulate_pulses_n(0.0, 1.0, -5), ()),
    ("christoffel_batch_n", lambda: christoffel_batch_n(_PTS, 1, 0, 0, 0.5), (_PTS,)),
    ("christoffel_batch_n-str-index", lambda: christoffel_batch_n(_PTS, 1, "0", 0, 0.5), (_PTS,)),
    ("christoffel_batch_n-twice", lambda: christoffel_batch_n(_PTS, 1, 0, 0, 0.5, lam=1), (_PTS,)),
]
