"""find_formula and PySearchResult: exact results, text forms, argument errors, internal failures, leaks."""

import math
import os
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import discover_reference as ref
import kiv_core
from helpers import PanicException
from kiv_core import PySearchResult, find_formula

def as_tuple(r):
    return None if r is None else (r.formula, r.complexity, r.error)


def same(a, b):
    """Equal results, with errors compared bit for bit (-0.0 unequal to 0.0), any NaN equal to any NaN."""
    if a is None or b is None:
        return a is b
    if math.isnan(a[2]) or math.isnan(b[2]):
        return a[:2] == b[:2] and math.isnan(a[2]) and math.isnan(b[2])
    return a[:2] == b[:2] and a[2].hex() == b[2].hex()


# ---- exact results ---------------------------------------------------------------------------------------

def test_doubling_is_found_with_the_default_settings():
    r = find_formula([[1.0, 2.0, 3.0]], [2.0, 4.0, 6.0])
    assert (r.formula, r.complexity, r.error, r.params) == ("(x + x)", 3, 0.0, [])
    assert repr(r) == "SearchResult(formula='(x + x)', error=0.00e0, complexity=3)"
    assert str(r) == repr(r)


def test_exact_column_is_the_variable_itself():
    r = find_formula([[1.0, 2.5, -3.0], [4.0, 5.0, 6.0]], [4.0, 5.0, 6.0])
    assert (r.formula, r.complexity, r.error, r.params) == ("y", 1, 0.0, [])
    r = find_formula([[0.5, 1.5, 2.0]], [0.5, 1.5, 2.0])
    assert repr(r) == "SearchResult(formula='x', error=0.00e0, complexity=1)"
    assert r.to_python() == "import math\nf = lambda x: x"


def test_columns_without_rows_return_the_first_seed():
    r = find_formula([[]], [1.0, 2.0])
    assert (r.formula, r.complexity) == ("0.0000", 1)
    assert r.error == 0.0 and math.copysign(1.0, r.error) == -1.0
    assert repr(r) == "SearchResult(formula='0.0000', error=-0.00e0, complexity=1)"


@pytest.mark.parametrize("y", [[], [1.0, math.nan, 3.0]], ids=["empty", "nan"])
def test_nan_errors_keep_the_first_seed(y):
    r = find_formula([[1.0, 2.0, 3.0]], y, max_complexity=3, beam_width=40)
    assert (r.formula, r.complexity) == ("0.0000", 1)
    assert math.isnan(r.error)
    assert repr(r) == "SearchResult(formula='0.0000', error=NaN, complexity=1)"


def test_error_is_the_penalised_rmse():
    # 1.0 is the best seed with rmse 0.5, complexity 1.
    r = find_formula([[1.0, 2.0, 3.0]], [1.5, 1.5, 1.5], max_complexity=1)
    assert (r.formula, r.error) == ("1.0000", 0.5 * (1 * 0.001 + 1.0))
    # x + x misses every target by 0.5: three tokens give 0.5015.
    r = find_formula([[1.0, 2.0, 3.0]], [2.5, 4.5, 6.5], max_complexity=3)
    assert (r.formula, r.complexity, r.error) == ("(x + x)", 3, 0.5015)
    assert repr(r) == "SearchResult(formula='(x + x)', error=5.01e-1, complexity=3)"
    r = find_formula([[1.0, 2.0, 3.0]], [2.5, 4.5, 6.5], max_complexity=3, complexity_penalty=0.0)
    assert r.error == 0.5


def test_targets_shorter_or_longer_than_the_columns():
    x = [[1.0, 2.0, 3.0, 4.0]]
    assert find_formula(x, [2.0, 4.0]).formula == "(x + x)"
    assert find_formula(x, [2.0, 4.0, 6.0, 8.0, 100.0]).formula == "(x + x)"
    r = find_formula(x, [1.5, 2.5, 3.5, 4.5, 1000.0, 1000.0], max_complexity=1)
    assert (r.formula, r.error) == ("x", math.sqrt(1.0 / 6.0) * 1.001)


def test_constant_seeds_always_give_a_result():
    # Infinite or NaN data: no operator result on a variable is finite, so only lone tokens and
    # constant formulas evaluate; the constant seeds always do, so there is always a result.
    r = find_formula([[math.inf, math.inf]], [1.0, 1.0], max_complexity=3, beam_width=40)
    assert (r.formula, r.error) == ("1.0000", 0.0)
    r = find_formula([[math.nan]], [0.0], max_complexity=2)
    assert (r.formula, r.error) == ("0.0000", 0.0)


def test_default_search_matches_known_result():
    # No formula fits exactly, so all seven levels run with the default settings.
    x = [0.1 + 3.9 * i / 59.0 for i in range(60)]
    y = [math.sin(3.7 * v) + 0.3 * v ** 3 for v in x]
    r = find_formula([x], y)
    assert r.complexity <= 8 + 4 and r.error > 1e-10
    # Same result again, and same result bit for bit from a fresh process with another thread count.
    assert as_tuple(find_formula([x], y)) == as_tuple(r)
    code = ("import math, kiv_core\n"
            f"x = {x!r}\ny = {y!r}\n"
            "r = kiv_core.find_formula([x], y)\nprint(repr((r.formula, r.complexity, r.error.hex())))")
    for threads in ("1", "3"):
        out = subprocess.run([sys.executable, "-c", code], env=dict(os.environ, RAYON_NUM_THREADS=threads),
                             capture_output=True, text=True, check=True).stdout.strip()
        assert out == repr((r.formula, r.complexity, r.error.hex()))


@pytest.mark.parametrize("kwargs", [
    dict(),
    dict(use_trig=False),
    dict(use_kiv=False),
    dict(use_trig=False, use_kiv=False, beam_width=7),
    dict(precision_goal=-1.0, max_complexity=3),
    dict(beam_width=3),
    dict(max_complexity=2),
    dict(max_complexity=0),
    dict(complexity_penalty=0.5),
])
def test_matches_the_plain_python_search(kwargs):
    kwargs = dict(dict(max_complexity=4, beam_width=24), **kwargs)
    x = [[0.5, 1.25, 2.0, 3.5], [1.0, -0.5, 0.25, 2.0]]
    y = [1.0, 0.3, -2.0, 4.5]
    assert same(as_tuple(find_formula(x, y, **kwargs)), ref.find_formula(x, y, **kwargs))


finite = st.floats(-4.0, 4.0, allow_nan=False).map(lambda v: round(v * 4) / 4)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data())
def test_matches_the_plain_python_search_on_random_data(data):
    n = data.draw(st.integers(1, 2))
    rows = data.draw(st.integers(0, 5))
    x = [data.draw(st.lists(finite | st.sampled_from([0.0, -0.0, 1e-310, math.nan]), min_size=rows,
                            max_size=rows)) for _ in range(n)]
    y = data.draw(st.lists(finite, min_size=0, max_size=rows + 1))
    kwargs = dict(max_complexity=data.draw(st.integers(0, 4)), beam_width=data.draw(st.integers(0, 24)),
                  precision_goal=data.draw(st.sampled_from([1e-10, -1.0, 0.5])),
                  use_trig=data.draw(st.booleans()), use_kiv=data.draw(st.booleans()),
                  complexity_penalty=data.draw(st.sampled_from([0.001, 0.0, 0.2])))
    assert same(as_tuple(find_formula(x, y, **kwargs)), ref.find_formula(x, y, **kwargs))


# ---- the result object -----------------------------------------------------------------------------------

@pytest.fixture(scope="module")
def result():
    return find_formula([[1.0, 2.0, 3.0]], [2.0, 4.0, 6.0])


def test_attributes_are_fresh_and_read_only(result):
    assert type(result.formula) is str and type(result.complexity) is int and type(result.error) is float
    assert result.params == [] and result.params is not result.params
    result.params.append(1.0)
    assert result.params == []
    for name in ("formula", "complexity", "params", "error"):
        with pytest.raises(AttributeError):
            setattr(result, name, 0)
        assert getattr(PySearchResult, name).__doc__ is None
    with pytest.raises(AttributeError):
        result.other = 1


def test_class_has_no_constructor_and_no_subclasses():
    with pytest.raises(TypeError, match="^No constructor defined for PySearchResult$"):
        PySearchResult()
    with pytest.raises(TypeError, match="^No constructor defined for PySearchResult$"):
        PySearchResult("x", 1)
    with pytest.raises(TypeError):
        type("Sub", (PySearchResult,), {})
    assert PySearchResult.__doc__ == "Python-facing formula discovery result."
    assert PySearchResult.__module__ == "kiv_core" and PySearchResult.__qualname__ == "PySearchResult"
    assert PySearchResult.to_latex.__text_signature__ == "($self)"
    assert PySearchResult.to_python.__text_signature__ == "($self)"


def test_text_forms(result):
    assert result.to_latex() == "(x + x)"
    assert result.to_python() == "import math\nf = lambda x: (x + x)"
    scope = {}
    exec(result.to_python(), scope)
    assert scope["f"](2.5) == 5.0
    with pytest.raises(TypeError):
        result.to_latex(1)
    # A formula with functions in it.
    xs = [0.5, 1.0, 2.0, 3.0]
    assert find_formula([xs], [math.exp(v) - math.log(v) for v in xs]).formula == "kiv(x, x)"
    r = find_formula([xs], [math.exp(v) - math.log(v) for v in xs], use_kiv=False)
    assert r.formula == "(exp(x) - ln(x))"
    assert r.to_latex() == "(\\exp(x) - \\ln(x))"
    assert r.to_python() == "import math\nf = lambda x: (math.exp(x) - math.log(x))"
    r = find_formula([[0.5, 1.0, 2.0, 3.0]], [math.sqrt(v + 1.0) for v in (0.5, 1.0, 2.0, 3.0)])
    assert r.formula == "sqrt((x + 1.0000))"
    assert r.to_latex() == "\\sqrt{(x + 1.0000)}"


def test_signature_and_doc():
    assert find_formula.__text_signature__ == (
        "(x_data, y_data, max_complexity=8, beam_width=2000, precision_goal=1e-10, use_trig=True, "
        "use_kiv=True, complexity_penalty=0.001)")
    assert find_formula.__doc__ == (
        "Find a formula fitting x_data → y_data.\nx_data: list of column vectors (one per variable), or a single "
        "1D list for univariate.\ny_data: target values (1D list).")
    assert kiv_core.__all__[-2:] == ["PySearchResult", "find_formula"]


# ---- arguments -------------------------------------------------------------------------------------------

def test_arguments_by_position_and_keyword():
    x, y = [[1.0, 2.0, 3.0]], [2.0, 4.0, 6.0]
    by_pos = find_formula(x, y, 3, 40, 1e-10, False, True, 0.001)
    by_kw = find_formula(y_data=y, x_data=x, complexity_penalty=0.001, use_kiv=True, use_trig=False,
                         precision_goal=1e-10, beam_width=40, max_complexity=3)
    assert as_tuple(by_pos) == as_tuple(by_kw) == ("(x + x)", 3, 0.0)
    # Tuples, ranges, numpy arrays and numpy bools are accepted.
    r = find_formula((np.array([1.0, 2.0, 3.0]),), range(2, 8, 2), use_trig=np.bool_(True), use_kiv=np.True_)
    assert r.formula == "(x + x)"
    assert find_formula([[1, 2, 3]], [True, True, True]).formula == "1.0000"
    assert find_formula([[1.0]], [1.0], max_complexity=np.uint8(1), beam_width=True).formula in ("1.0000", "x")


@pytest.mark.parametrize("args, kwargs, exc, message", [
    (([1.0, 2.0, 3.0], [2.0, 4.0, 6.0]), {}, TypeError,
     "argument 'x_data': 'float' object cannot be converted to 'Sequence'"),
    (("abc", [1.0]), {}, TypeError, "argument 'x_data': Can't extract `str` to `Vec`"),
    ((["abc"], [1.0]), {}, TypeError, "argument 'x_data': Can't extract `str` to `Vec`"),
    (([[1.0]], "abc"), {}, TypeError, "argument 'y_data': Can't extract `str` to `Vec`"),
    (([[1.0]], None), {}, TypeError, "argument 'y_data': 'NoneType' object cannot be converted to 'Sequence'"),
    (([[1.0, "a"]], [1.0]), {}, TypeError, "argument 'x_data': must be real number, not str"),
    (([[1.0]], [1.0]), dict(use_trig=1), TypeError,
     "argument 'use_trig': 'int' object cannot be converted to 'PyBool'"),
    (([[1.0]], [1.0]), dict(use_kiv=None), TypeError,
     "argument 'use_kiv': 'NoneType' object cannot be converted to 'PyBool'"),
    (([[1.0]], [1.0]), dict(max_complexity=1.5), TypeError,
     "argument 'max_complexity': 'float' object cannot be interpreted as an integer"),
    (([[1.0]], [1.0]), dict(max_complexity=-1), OverflowError, None),
    (([[1.0]], [1.0]), dict(beam_width=-5), OverflowError, None),
    (([[1.0]], [1.0]), dict(precision_goal="x"), TypeError, "argument 'precision_goal': must be real number, not str"),
    (([[1.0]], [1.0]), dict(complexity_penalty=None), TypeError,
     "argument 'complexity_penalty': must be real number, not NoneType"),
    (([[1.0]],), {}, TypeError, "find_formula() missing 1 required positional argument: 'y_data'"),
    ((), {}, TypeError, "find_formula() missing 2 required positional arguments: 'x_data' and 'y_data'"),
    (([[1.0]], [1.0], 8, 2000, 1e-10, True, True, 0.001, 9), {}, TypeError,
     "find_formula() takes from 2 to 8 positional arguments but 9 were given"),
    (([[1.0]], [1.0]), dict(x_data=[[1.0]]), TypeError, "find_formula() got multiple values for argument 'x_data'"),
    (([[1.0]], [1.0]), dict(max_depth=3), TypeError, "find_formula() got an unexpected keyword argument 'max_depth'"),
])
def test_argument_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        find_formula(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_conversion_stops_at_the_first_bad_argument():
    # x_data fails first, so the bad bool is never looked at.
    with pytest.raises(TypeError, match="^argument 'x_data'"):
        find_formula("abc", [1.0], use_trig=1)


@pytest.mark.parametrize("x_data, message", [
    ([], "index out of bounds: the len is 0 but the index is 0"),
    ([[1.0, 2.0, 3.0], [1.0]], "index out of bounds: the len is 1 but the index is 1"),
    ([[1.0, 2.0], [1.0, 2.0], []], "index out of bounds: the len is 0 but the index is 0"),
])
def test_data_errors_raise_the_panic_exception(x_data, message):
    assert PanicException.__qualname__ == "PanicException" and PanicException.__module__ == "pyo3_runtime"
    assert not issubclass(PanicException, Exception)
    with pytest.raises(PanicException) as info:
        find_formula(x_data, [1.0, 2.0])
    assert str(info.value) == message


# ---- leaks -----------------------------------------------------------------------------------------------

X = [[0.5, 1.0, 1.5, 2.0, 2.5]]
Y = [1.0, 2.0, 2.5, 4.5, 5.0]
Y_LONG = [math.sqrt(x) + math.sin(x) for x in X[0]]  # best formula '(sqrt(x) + 1.0000)'
FLAT = [1.0, 2.0]
TEXT = "abc"
SHORT = [[1.0, 2.0, 3.0], [1.0]]
NO_COLUMNS = []
RESULT = find_formula(X, Y, max_complexity=3, beam_width=20)

LEAK_CASES = [
    ("success", lambda: find_formula(X, Y, max_complexity=3, beam_width=20), (X, Y)),
    # A formula text too long to live inside the record's string object: its heap block must be freed too.
    ("success-long-formula", lambda: find_formula(X, Y_LONG, max_complexity=4, beam_width=20), (X, Y_LONG)),
    ("success-none-of-y", lambda: find_formula([[]], Y, max_complexity=2), (Y,)),
    ("keywords", lambda: find_formula(x_data=X, y_data=Y, max_complexity=2, use_trig=False), (X, Y)),
    ("missing", lambda: find_formula(X), (X,)),
    ("too-many", lambda: find_formula(X, Y, 1, 1, 1.0, True, True, 0.0, 1), (X, Y)),
    ("unknown-keyword", lambda: find_formula(X, Y, zz=1), (X, Y)),
    ("flat-x", lambda: find_formula(FLAT, Y), (FLAT, Y)),
    ("str-x", lambda: find_formula(TEXT, Y), (TEXT, Y)),
    ("bad-bool", lambda: find_formula(X, Y, use_kiv=1), (X, Y)),
    ("negative-count", lambda: find_formula(X, Y, beam_width=-1), (X, Y)),
    ("panic-no-columns", lambda: find_formula(NO_COLUMNS, Y), (NO_COLUMNS, Y)),
    ("panic-short-column", lambda: find_formula(SHORT, Y), (SHORT, Y)),
    ("constructor", lambda: PySearchResult(), ()),
    ("members", lambda: (RESULT.formula, RESULT.complexity, RESULT.params, RESULT.error, repr(RESULT),
                         RESULT.to_latex(), RESULT.to_python()), (RESULT,)),
    ("set-attribute", lambda: setattr(RESULT, "error", 0), (RESULT,)),
]
