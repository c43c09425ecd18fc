"""Fuzz test: every public entry called with arbitrary objects and arbitrary floats.

Each call must return a value of the documented type or raise one of the documented exception types;
anything else, or a crash of the interpreter, fails. To add an entry, add a row to ENTRIES: its name,
one strategy per parameter (well-typed values from KINDS mixed with arbitrary objects by `arg`), a check
of the result, and the exception types it may raise besides the conversion errors.
"""

import math
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kiv_core
from helpers import PanicException

CONVERSION_ERRORS = (TypeError, ValueError, OverflowError)

special_floats = st.sampled_from(
    [math.nan, -math.nan, math.inf, -math.inf, 0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
     sys.float_info.max, -sys.float_info.max, 1e-300, 709.782712893384, 709.7827128933841, 709.78, -709.0]
)
any_float = st.one_of(st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True), special_floats)
atoms = st.one_of(
    st.none(), st.booleans(), st.integers(), st.integers(min_value=-(2**70), max_value=2**70), any_float,
    st.text(max_size=4), st.binary(max_size=4), st.complex_numbers(), st.just(object()), st.just(float),
)
garbage = st.recursive(
    atoms,
    lambda inner: st.one_of(
        st.lists(inner, max_size=5), st.tuples(inner), st.tuples(inner, inner), st.tuples(inner, inner, inner),
        st.dictionaries(st.text(max_size=2), inner, max_size=3), st.sets(st.integers(), max_size=3),
        st.frozensets(st.integers(), max_size=3),
    ),
    max_leaves=12,
)

float_list = st.one_of(st.lists(any_float, max_size=40), st.lists(any_float, max_size=3).map(tuple),
                       st.lists(st.one_of(any_float, st.integers(-5, 5), st.booleans()), max_size=10))
KINDS = {
    "float": st.one_of(any_float, st.integers(-10, 10)),
    "floats": float_list,
    "u64": st.integers(min_value=0, max_value=40),
    "i64": st.integers(min_value=-(2**63), max_value=2**63 - 1),
    "bool": st.one_of(st.booleans(), st.booleans().map(np.bool_)),
    "pairs": st.lists(st.tuples(any_float, any_float), max_size=20),
    "vecs": st.lists(st.lists(any_float, min_size=0, max_size=8), max_size=6),
    "octs": st.lists(st.lists(any_float, min_size=8, max_size=8), max_size=6),
    "i8s": st.lists(st.integers(-3, 3), max_size=4),
}


def arg(kind):
    """A well-typed value most of the time, arbitrary garbage otherwise."""
    return st.one_of(KINDS[kind], KINDS[kind], KINDS[kind], garbage)


def is_float_list(r):
    return type(r) is list and all(type(v) is float for v in r)


def is_float(r):
    return type(r) is float


def is_list_of(cls):
    return lambda r: type(r) is list and all(type(v) is cls for v in r)


def instance_of(cls):
    return lambda r: type(r) is cls


KINDS["point"] = st.builds(kiv_core.KIVPoint, any_float, any_float)
KINDS["pair"] = st.builds(kiv_core.KIVPair, any_float, any_float)
KINDS["knot"] = st.builds(kiv_core.KIVKnot, KINDS["point"], KINDS["i64"], any_float)

P, Q, K = kiv_core.KIVPoint, kiv_core.KIVPair, kiv_core.KIVKnot

# name -> (callable, parameter kinds, result check, extra exception types). A kind written "self:KIND"
# is the receiver of a method: always well-typed, never garbage, and never dropped or doubled.
ENTRIES = {name: (getattr(kiv_core, name), ["floats"], is_list_of(float), ())
           for name in ["exp_n", "ln_n", "sqrt_n", "sin_n", "cos_n"]}
ENTRIES.update({name: (getattr(kiv_core, name), ["floats", "floats"], is_list_of(float), ())
                for name in ["add_n", "sub_n", "mul_n", "div_n", "pow_n", "tension_n"]})
ENTRIES.update({
    "KIVPoint": (P, ["float", "float"], instance_of(P), ()),
    "KIVPoint.tension": (P.tension, ["self:point"], is_float, ()),
    "KIVPoint.mirror_pulse": (P.mirror_pulse, ["self:point"], instance_of(P), ()),
    "KIVPoint.frame_shift": (P.frame_shift, ["self:point"], instance_of(P), ()),
    "KIVPoint.is_slipping": (P.is_slipping, ["self:point"], instance_of(bool), ()),
    "KIVPoint.conserves_tension": (P.conserves_tension, ["self:point", "point", "float"], instance_of(bool), ()),
    "KIVPoint.pair": (P.pair, ["self:point"], instance_of(Q), ()),
    "KIVPoint.euclidean_delta": (P.euclidean_delta, ["self:point"], is_float, ()),
    "KIVPoint.minkowski_delta": (P.minkowski_delta, ["self:point", "bool", "float"], is_float, ()),
    "KIVPoint.boost": (P.boost, ["self:point", "float", "float"], instance_of(P), ()),
    "KIVPoint.repr": (repr, ["self:point"], instance_of(str), ()),
    "KIVPair": (Q, ["float", "float"], instance_of(Q), ()),
    "KIVPair.from_polar": (Q.from_polar, ["float", "float"], instance_of(Q), ()),
    "KIVPair.from_values": (Q.from_values, ["float", "float"], instance_of(Q), ()),
    "KIVPair.rotate_phase": (Q.rotate_phase, ["self:pair", "float"], instance_of(Q), ()),
    "KIVPair.conjugate": (Q.conjugate, ["self:pair"], instance_of(Q), ()),
    "KIVPair.add": (lambda p, o: p + o, ["self:pair", "pair"], instance_of(Q), ()),
    "KIVPair.truediv": (lambda p, o: p / o, ["self:pair", "pair"], instance_of(Q), ()),
    "KIVPair.eq": (lambda p, o: p == o, ["self:pair", "pair"], instance_of(bool), ()),
    "KIVPair.ne": (lambda p, o: p != o, ["self:pair", "pair"], instance_of(bool), ()),
    "KIVPair.getters": (lambda p: (p.modulus, p.argument, abs(p)), ["self:pair"], lambda r: all(map(is_float, r)), ()),
    "KIVPair.repr": (repr, ["self:pair"], instance_of(str), ()),
    "KIVKnot": (K, ["point", "i64", "float"], instance_of(K), ()),
    "KIVKnot.pulse": (K.pulse, ["self:knot"], instance_of(K), ()),
    "KIVKnot.flip": (K.flip, ["self:knot"], instance_of(K), ()),
    "KIVKnot.tread_yield": (K.tread_yield, ["self:knot"], instance_of(int), ()),
    "KIVKnot.getters": (lambda k: (k.point, k.phase, k.flip_count, k.rho), ["self:knot"],
                        lambda r: type(r[0]) is P and type(r[1]) is float and type(r[2]) is int, ()),
    "KIVKnot.repr": (repr, ["self:knot"], instance_of(str), ()),
})


PANIC = PanicException
KINDS["small_u64"] = st.integers(min_value=0, max_value=5)
KINDS["vecs_rows"] = st.integers(0, 6).flatmap(
    lambda rows: st.lists(st.lists(any_float, min_size=rows, max_size=rows), min_size=1, max_size=3))


def is_tuples(width):
    return lambda r: type(r) is list and all(
        type(t) is tuple and len(t) == width and all(type(v) is float for v in t) for t in r)


def is_float_rows(width=None):
    return lambda r: type(r) is list and all(
        type(row) is list and (width is None or len(row) == width) and all(type(v) is float for v in row)
        for row in r)


def is_search_result(r):
    return r is None or (type(r) is kiv_core.PySearchResult and type(r.formula) is str and type(r.error) is float
                         and type(r.complexity) is int and r.params == [] and type(repr(r)) is str
                         and type(r.to_latex()) is str and type(r.to_python()) is str)


ENTRIES.update({
    "boost_n": (kiv_core.boost_n, ["pairs", "floats", "float"], is_tuples(2), ()),
    "rotate_phase_n": (kiv_core.rotate_phase_n, ["pairs", "floats"], is_tuples(2), ()),
    "schrodinger_step_n": (kiv_core.schrodinger_step_n, ["pairs", "floats", "float", "float"], is_tuples(2), ()),
    "simulate_pulses_n": (kiv_core.simulate_pulses_n, ["float", "float", "u64"], is_tuples(3), (MemoryError, PANIC)),
    "christoffel_batch_n": (kiv_core.christoffel_batch_n, ["pairs", "u64", "u64", "u64", "float"],
                            is_list_of(float), ()),
    "geometric_product_n": (kiv_core.geometric_product_n, ["vecs", "vecs", "i8s"], is_float_rows(), (PANIC,)),
    "octonion_mul_n": (kiv_core.octonion_mul_n, ["octs", "octs"], is_float_rows(8), ()),
    "find_formula": (kiv_core.find_formula,
                     ["vecs_rows", "floats", "small_u64", "u64", "float", "bool", "bool", "float"],
                     is_search_result, (PANIC,)),
})


def call_strategy(name):
    _, kinds, _, _ = ENTRIES[name]
    receiver = [KINDS[k[5:]] for k in kinds if k.startswith("self:")]
    params = [arg(k) for k in kinds if not k.startswith("self:")]
    head = st.tuples(*receiver)
    positional = st.tuples(*params)
    # Occasionally a wrong number of arguments or a stray keyword.
    return st.one_of(
        st.tuples(head, positional).map(lambda hp: (hp[0] + hp[1], {})),
        st.tuples(head, positional).map(lambda hp: (hp[0] + hp[1][:-1], {})),
        st.tuples(head, positional).map(lambda hp: (hp[0] + hp[1] + (1.0,), {})),
        st.tuples(head, positional).map(lambda hp: (hp[0] + hp[1], {"bogus": 1})),
    )


@pytest.mark.parametrize("name", sorted(ENTRIES))
def test_entry_survives_arbitrary_input(name):
    fn, kinds, check, extra = ENTRIES[name]
    allowed = CONVERSION_ERRORS + tuple(extra)

    @settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
    @given(call=call_strategy(name))
    def run(call):
        args, kwargs = call
        try:
            result = fn(*args, **kwargs)
        except allowed:
            return
        assert check(result), (name, args, result)

    run()
