"""Fuzz test: every public entry called with arbitrary objects and arbitrary floats.

Each call must return a value of the documented type or raise one of the documented exception types;
anything else, or a crash of the interpreter, fails. To add an entry, add a row to ENTRIES: its name,
one strategy per parameter (well-typed values from KINDS mixed with arbitrary objects by `arg`), a check
of the result, and the exception types it may raise besides the conversion errors.
"""

import math
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kiv_core

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
    "bool": st.booleans(),
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


# name -> (parameter kinds, result check, extra exception types)
ENTRIES = {name: (["floats"], is_float_list, ()) for name in ["exp_n", "ln_n", "sqrt_n", "sin_n", "cos_n"]}
ENTRIES.update({name: (["floats", "floats"], is_float_list, ())
                for name in ["add_n", "sub_n", "mul_n", "div_n", "pow_n", "tension_n"]})


def call_strategy(name):
    kinds, _, _ = ENTRIES[name]
    positional = st.tuples(*[arg(k) for k in kinds])
    # Occasionally a wrong number of arguments or a stray keyword.
    return st.one_of(
        positional.map(lambda a: (a, {})),
        positional.map(lambda a: (a[:-1], {})),
        positional.map(lambda a: (a + (1.0,), {})),
        positional.map(lambda a: (a, {"bogus": 1})),
    )


@pytest.mark.parametrize("name", sorted(ENTRIES))
def test_entry_survives_arbitrary_input(name):
    kinds, check, extra = ENTRIES[name]
    fn = getattr(kiv_core, name)
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
