"""Correct use of every entry of kiv_core: the type checker must accept all of it, with the result types
asserted here, and the script must run."""

import array
from typing import assert_type

import kiv_core
from kiv_core import KIVKnot, KIVPair, KIVPoint, PySearchResult


class Half:
    def __float__(self) -> float:
        return 0.5


class Three:
    def __index__(self) -> int:
        return 3


xs = [0.5, 1, True]
ys = (2.0, 3.0, 4.0)
pts = [(0.5, 2.0), (1, -1.0)]

# Batch functions over any sequence of numbers.
assert_type(kiv_core.exp_n(xs), list[float])
assert_type(kiv_core.ln_n(ys=ys), list[float])
assert_type(kiv_core.sqrt_n(range(3)), list[float])
assert_type(kiv_core.sin_n(array.array("d", [0.0])), list[float])
assert_type(kiv_core.cos_n(b"\x00\x01"), list[float])
for fn in (kiv_core.add_n, kiv_core.sub_n, kiv_core.mul_n, kiv_core.div_n):
    assert_type(fn(xs, ys), list[float])
assert_type(kiv_core.tension_n(xs, ys), list[float])
assert_type(kiv_core.pow_n(bases=xs, exps=[Half()]), list[float])

# Value classes.
p = KIVPoint(1.5, y=Half())
assert_type(p.x + p.y, float)
assert_type(p.tension(), float)
assert_type(p.kiv(), float)
assert_type(p.mirror_pulse(), KIVPoint)
assert_type(p.pulse().frame_shift(), KIVPoint)
assert_type(p.is_slipping(), bool)
assert_type(p.conserves_tension(p, tol=1e-9), bool)
assert_type(p.pair(), KIVPair)
assert_type(p.euclidean_delta(), float)
assert_type(p.minkowski_delta(True, c=1), float)
assert_type(p.boost(0.1, 1.0), KIVPoint)

q = KIVPair(1, 2.0)
assert_type(q + KIVPair.one() - KIVPair.zero(), KIVPair)
assert_type(q * KIVPair.unit_i() / KIVPair.from_values(1.0, 1.0), KIVPair)
assert_type(KIVPair.from_polar(r=2.0, theta=0.0).conjugate().rotate_phase(0.5), KIVPair)
assert_type(abs(q), float)
assert_type(q == KIVPair(1.0, 2.0), bool)
assert_type(q != 3, bool)
assert_type(q.real + q.imag + q.real_tension + q.imag_tension + q.modulus + q.argument, float)

k = KIVKnot(p, n=Three(), theta=0.25)
assert_type(KIVKnot(p), KIVKnot)
assert_type(k.mirror_pulse().pulse().three_one_flip().flip(), KIVKnot)
assert_type(k.tread_yield() + k.flip_count, int)
assert_type(k.point, KIVPoint)
assert_type(k.phase + k.rho, float)

# Batch physics over lists of (x, y) or (real, imag) tuples.
assert_type(kiv_core.boost_n(pts, [0.1, 0.2], 1.0), list[tuple[float, float]])
assert_type(kiv_core.rotate_phase_n(pairs=pts, angles=[0.5]), list[tuple[float, float]])
assert_type(kiv_core.schrodinger_step_n(pts, [1.0, 2.0], dt=0.1, hbar=1), list[tuple[float, float]])
assert_type(kiv_core.simulate_pulses_n(0.0, 1.0, n_pulses=3), list[tuple[float, float, float]])
assert_type(kiv_core.christoffel_batch_n(pts, 1, 1, Three(), rs=0.5), list[float])

# Algebra.
assert_type(kiv_core.octonion_mul_n([[1.0] * 8], [tuple(range(8))]), list[list[float]])
assert_type(kiv_core.geometric_product_n([[0, 1, 0, 0]], [[0.0, 0.0, 1.0, 0.0]], signature=[1, -1]),
            list[list[float]])

# Discovery.
found = kiv_core.find_formula([[0.5, 1.0, 1.5]], [1.0, 2.0, 3.0], max_complexity=3, beam_width=20,
                              precision_goal=1e-12, use_trig=False, use_kiv=True, complexity_penalty=0)
assert_type(found, PySearchResult | None)
if found is not None:
    assert_type(found.formula, str)
    assert_type(found.complexity, int)
    assert_type(found.params, list[float])
    assert_type(found.error, float)
    assert_type(found.to_latex() + found.to_python(), str)

assert_type(kiv_core.__all__, list[str])
