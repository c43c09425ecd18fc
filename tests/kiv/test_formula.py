"""kiv.Formula: native evaluation against a scalar reference, texts, exports, reading back, value semantics."""

import math
import pickle
import warnings

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import kiv
from discover_util import LIBM, LibmNumpy, bits, random_tokens, reference_eval, rng_for, same_array, sequential_error
from kiv import Formula, _native
from leaks import assert_no_leak

VALUES = [0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e-301, -1e-301, 1e-300, 709.0, 710.0, 800.0, -800.0, 1e300, math.pi]


def _random_formula(seed, n_vars=3, size=None, unary=range(8)):
    rng = rng_for(seed)
    tokens = random_tokens(rng, n_vars, size or rng.randrange(1, 12), unary)
    return Formula(tokens, kiv.formula.default_feature_names(n_vars))


def _random_rows(seed, n_vars, rows=64, values=VALUES):
    rng = np.random.default_rng(seed)
    X = rng.uniform(-4, 4, (rows, n_vars))
    picks = rng.random((rows, n_vars)) < 0.2
    X[picks] = rng.choice(values, size=int(picks.sum()))
    return X


@pytest.mark.parametrize("seed", range(300))
def test_evaluate_is_the_guarded_scalar_evaluation_with_nan_where_a_guard_trips(seed):
    f = _random_formula(seed)
    X = _random_rows(seed, 3, rows=300 if seed % 10 == 0 else 40)
    expected = [reference_eval(f.tokens, list(row)) for row in X]
    assert same_array(f.evaluate(X), expected)


def test_evaluate_reproduces_the_reported_error_bit_for_bit():
    rng = np.random.default_rng(3)
    for seed in range(20):
        X = rng.uniform(0.3, 3, (int(rng.integers(5, 600)), 2))
        y = np.sin(X[:, 0]) * X[:, 1] + rng.normal(size=len(X)) * 0.1
        f = kiv.discover(X, y, max_complexity=5, beam_width=100)
        pred = f.evaluate(X)
        assert bits(sequential_error(pred, y, f.complexity)) == bits(f.error)


def test_evaluate_large_input_and_shapes():
    f = Formula.parse("kiv(x, ln(y))", ["x", "y"])
    rng = np.random.default_rng(0)
    X = rng.uniform(-2, 2, (200_003, 2))
    got = f.evaluate(X)
    some = rng.integers(0, len(X), 500)
    assert same_array(got[some], [reference_eval(f.tokens, list(X[i])) for i in some])
    assert np.isnan(got[X[:, 1] <= 0]).all() and not np.isnan(got[X[:, 1] > 0]).any()
    assert same_array(f.evaluate(np.asfortranarray(X[:1000])), got[:1000])
    assert same_array(f.evaluate(X[::2]), got[::2])
    g = Formula.parse("exp(x)", ["x"])
    assert same_array(g.evaluate([0.0, 1.0]), [1.0, math.e])
    assert g.evaluate(np.zeros((0, 1))).shape == (0,)
    with pytest.raises(ValueError, match=r"X: 3 features, the formula expects 2"):
        f.evaluate(np.zeros((4, 3)))


def test_plain_text_is_the_core_text_for_the_core_letters():
    for seed in range(300):
        f = _random_formula(seed)
        assert f.text == _native._render(f.tokens)


@pytest.mark.parametrize("seed", range(200))
def test_text_reads_back(seed):
    f = _random_formula(seed, n_vars=4)
    named = Formula(f.tokens, ["alpha", "b_2", "x", "Δ"])
    back = Formula.parse(named.text, named.feature_names)
    # Constants come back as the text shows them (four decimals): the same text, the same structure.
    assert back.text == named.text and [t[:2] for t in back.tokens] == [t[:2] for t in named.tokens]
    # The core's letters, as kiv_core.PySearchResult texts use them, up to the 136th variable.
    wide = Formula([(2, 135, 0.0), (2, 3, 0.0), (3, 10, 0.0)] + list(f.tokens) + [(3, 8, 0.0)],
                   kiv.formula.default_feature_names(136))

    class Result:
        formula = _native._render(wide.tokens)
        error = 0.25

    back = Formula.from_result(Result)
    assert [t[:2] for t in back.tokens] == [t[:2] for t in wide.tokens] and back.text == wide.text
    assert back.error == 0.25


def test_from_result_of_find_formula():
    import kiv_core

    r = kiv_core.find_formula([[1.0, 2.0, 3.0], [0.5, 1.0, 4.0]], [2.0, 5.0, 1.0], max_complexity=4)
    f = Formula.from_result(r, ["a", "b"])
    assert f.error == r.error and f.complexity == r.complexity
    assert Formula.from_result(r).text == r.formula
    X = np.array([[1.0, 0.5], [2.0, 1.0], [3.0, 4.0]])
    assert bits(sequential_error(f.evaluate(X), [2.0, 5.0, 1.0], f.complexity)) == bits(r.error)


@pytest.mark.parametrize("text, message", [
    ("(x + )", "expected a number, a variable"),
    ("(x + y", "expected ')'"),
    ("foo(x)", "'foo' is not one of the feature names"),
    ("x y", "unexpected text after the formula"),
    ("kiv(x)", "expected ', '"),
    ("(x ^ y)", "expected ' + ', ' - ', ' * ' or ' / '"),
])
def test_parse_errors_name_the_text_and_the_place(text, message):
    with pytest.raises(ValueError, match="text: cannot read the formula at position") as info:
        Formula.parse(text, ["x", "y"])
    assert message in str(info.value)


def test_parse_reads_signs_parameters_and_constants():
    f = Formula.parse("(-2.2500 + (-x))", ["x"])
    assert f.tokens == ((0, 0, -2.25), (2, 0, 0.0), (3, 0, 0.0), (3, 9, 0.0))
    assert Formula.parse("(-2.2500)", ["x"]).tokens == ((0, 0, 2.25), (3, 0, 0.0))
    assert Formula.parse("(c0(1.5000) * (1/π))", ["x"]).tokens == ((1, 0, 1.5), (0, 0, math.pi), (3, 1, 0.0),
                                                                    (3, 11, 0.0))
    assert same_array(Formula.parse("(e - NaN)", ["x"]).evaluate([1.0]), [math.nan])


@settings(max_examples=150, deadline=None, derandomize=True)
@given(st.integers(0, 10**6), st.integers(1, 7))
def test_to_python_runs_and_agrees_with_evaluate(seed, n_vars):
    f = _random_formula(seed, n_vars=n_vars)
    X = _random_rows(seed, n_vars)
    source = f.to_python()
    namespace = {"np": LibmNumpy()}
    exec(source.replace("import numpy as np", ""), namespace)
    # With the C library's elementary functions the exported code gives the native values bit for bit.
    assert same_array(namespace["f"](X), f.evaluate(X))
    # With numpy's own, it runs and agrees to numpy's rounding (large arguments of sin and cos excepted).
    namespace = {}
    exec(source, namespace)
    got = namespace["f"](X)
    assert got.shape == (len(X),) and got.dtype == np.float64


@settings(max_examples=150, deadline=None, derandomize=True)
@given(st.integers(0, 10**6))
def test_unevaluated_sympy_lambdifies_to_the_same_numbers_as_evaluate(seed):
    sympy = pytest.importorskip("sympy")
    f = _random_formula(seed, n_vars=2)
    X = _random_rows(seed, 2)
    expr = f.to_sympy(evaluate=False)
    fn = sympy.lambdify([sympy.Symbol("x", real=True), sympy.Symbol("y", real=True)], expr, [LIBM, "numpy"])
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore")  # complex or infinite values where evaluate has none
        got = np.broadcast_to(np.real(np.asarray(fn(X[:, 0], X[:, 1]))).astype(float), (len(X),))
    want = f.evaluate(X)
    ok = ~np.isnan(want)
    # Equal values; only the sign of a zero may differ, as SymPy has no -0.
    assert np.array_equal(got[ok], want[ok])


@pytest.mark.parametrize("text", ["(exp(x) - ln(y))", "sqrt((abs(x) / y))", "(sin((x * y)) + (1/cos(x)))",
                                  "kiv(sqrt(x), ((y + 1.0000) - 1.0000))", "(x - ((1.0000 + x) - y))"])
def test_simplified_sympy_agrees_to_rounding(text):
    sympy = pytest.importorskip("sympy")
    f = Formula.parse(text, ["x", "y"])
    X = np.random.default_rng(1).uniform(0.1, 3, (200, 2))
    fn = sympy.lambdify(sympy.symbols("x y", real=True), f.to_sympy())
    np.testing.assert_allclose(np.broadcast_to(fn(X[:, 0], X[:, 1]), (200,)), f.evaluate(X), rtol=1e-12,
                               atol=1e-12)


def test_sympy_kiv_keeps_its_guards():
    sympy = pytest.importorskip("sympy")
    f = Formula.parse("kiv(x, y)", ["x", "y"])
    expr = f.to_sympy()
    x, y = sympy.symbols("x y", real=True)
    fn = sympy.lambdify([x, y], expr)
    X = np.array([[800.0, 1.0], [0.0, 0.0], [0.0, -math.e], [1.0, 2.0]])
    assert same_array(fn(X[:, 0], X[:, 1]), f.evaluate(X))
    pw = expr.rewrite(sympy.Piecewise)
    assert float(pw.subs({x: 800.0, y: 1.0})) == pytest.approx(800.0, rel=1e-14)
    assert float(pw.subs({x: 0.0, y: 0.0})) == pytest.approx(691.7755278982137, rel=1e-14)
    assert float(expr.subs({x: 0.0, y: -2.0}).evalf()) == pytest.approx(1 - math.log(2.0), rel=1e-14)
    assert sympy.latex(expr) == r"\operatorname{kiv}\left(x, y\right)"
    g = Formula.parse("sqrt(abs((speed - 1.0000)))", ["speed"]).to_sympy()
    assert g == sympy.sqrt(sympy.Abs(sympy.Symbol("speed", real=True) - 1))


def test_to_latex():
    f = Formula.parse("(sqrt((temp_c / π)) + kiv(exp(x), (1/ln(x))))", ["temp_c", "x"])
    assert f.to_latex() == (r"\left(\sqrt{\frac{\mathrm{temp\_c}}{\pi}} + \operatorname{kiv}\left(\exp\left(x\right), "
                            r"\frac{1}{\ln\left(x\right)}\right)\right)")


def test_equality_hash_pickle_repr():
    f = kiv.discover([1.0, 2.0, 3.0], [2.0, 4.0, 6.0], feature_names=["x"])
    g = pickle.loads(pickle.dumps(f))
    assert g == f and hash(g) == hash(f) and g.settings == f.settings
    assert Formula.parse("x", ["x"]) != Formula.parse("z", ["z"])
    assert Formula([(0, 0, 0.0)], ["x"]) != Formula([(0, 0, -0.0)], ["x"])
    assert repr(f) == "Formula('(x + x)', error=0, complexity=3)"
    assert repr(Formula.parse("(a * b)", ["a", "b"])) == "Formula('(a * b)', complexity=3, feature_names=('a', 'b'))"
    with pytest.raises(ValueError, match="tokens: an operator lacks its operand"):
        Formula([(3, 9, 0.0)], ["x"])
    with pytest.raises(ValueError, match="tokens: variable 2 is beyond the 1 features"):
        Formula([(2, 2, 0.0)], ["x"])


def test_no_leaks():
    f = Formula.parse("kiv(x, ln(y))", ["x", "y"])
    X = np.random.default_rng(0).uniform(-1, 2, (1000, 2))
    assert_no_leak(lambda: f.evaluate(X), watched=(X,), repeat=500)
    assert_no_leak(lambda: f.evaluate(X[:, :1]), watched=(X,), repeat=500)
    assert_no_leak(lambda: Formula.parse("(x + ", ["x"]), repeat=500)
    assert_no_leak(lambda: _native._evaluate(((3, 99, 0.0),), X), watched=(X,), repeat=500)
