"""kiv.Formula: native evaluation against a scalar reference, texts, exports, reading back, value semantics."""

import ast
import copyreg
import math
import pickle
import warnings

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import kiv
from discover_util import LIBM, LibmNumpy, bits, random_tokens, reference_eval, rng_for, same_array, sequential_error
from kiv import Formula, _native
from kiv._names import nfkc
from kiv._ops import OPERATORS
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


ODD_NAMES = ["sepal length (cm)", "0", "x", "πr", "e", "exp", "a`b", "Δt", "lambda", "np", "ｆ", "x_1", "c0", "1.5",
             "`", "-", "a b", "inf", "kiv", "_kiv_ok", "f"]

CONSTANTS = st.one_of(st.sampled_from([0.0, -0.0, 1.0, math.pi, math.e, math.inf, -math.inf, math.nan, 1e-301]),
                      st.floats(allow_nan=False, allow_infinity=False))


@st.composite
def formulas(draw, max_ops=8):
    """Any well-formed formula over 1 to 4 features with odd names, every operator of the table, arbitrary
    constants and parameters."""
    n = draw(st.integers(1, 4))
    names = draw(st.lists(st.sampled_from(ODD_NAMES), min_size=n, max_size=n, unique_by=nfkc))
    leaf = st.one_of(st.builds(lambda i: (2, i, 0.0), st.integers(0, n - 1)),
                     st.builds(lambda v: (0, 0, v), CONSTANTS),
                     st.builds(lambda i, v: (1, i, v), st.integers(0, 12), CONSTANTS))
    parts = [[draw(leaf)]]
    for _ in range(draw(st.integers(0, max_ops))):
        op = draw(st.sampled_from(OPERATORS))
        if op.arity == 2:
            b = [draw(leaf)] if draw(st.booleans()) or len(parts) == 1 else parts.pop()
            a = parts.pop()
            parts.append(a + b + [(3, op.code, 0.0)])
        else:
            parts[-1] = parts[-1] + [(3, op.code, 0.0)]
    tokens = parts[0]
    for rest in parts[1:]:
        tokens = tokens + rest + [(3, kiv._ops.BY_NAME["add"].code, 0.0)]
    return Formula(tokens, names)


# ---- evaluation -------------------------------------------------------------------------------------------

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


@settings(max_examples=100, deadline=None, derandomize=True)
@given(formulas())
def test_constants_of_any_value_evaluate_as_the_core_does(f):
    X = _random_rows(1, f.n_features, rows=8)
    assert same_array(f.evaluate(X), [reference_eval(f.tokens, list(row)) for row in X])


# ---- the operator table -----------------------------------------------------------------------------------

def test_operators_come_from_the_core_table_and_every_form_is_known():
    assert [op.code for op in OPERATORS] == list(range(len(OPERATORS)))
    # The codes that pickled formulas hold.
    assert [op.name for op in OPERATORS[:13]] == ["neg", "recip", "exp", "ln", "sqrt", "sin", "cos", "abs", "kiv",
                                                  "add", "sub", "mul", "div"]
    for op in OPERATORS:
        assert op.form != "other", op
        tokens = tuple((2, i, 0.0) for i in range(op.arity)) + ((3, op.code, 0.0),)
        f = Formula(tokens, ["x", "y"])
        # The text is the core's, reads back, and every export has a form for the operator.
        assert f.text == _native._render(tokens) and Formula.parse(f.text, ["x", "y"]) == f
        assert f.to_latex() and "def f(X)" in f.to_python()
    assert kiv._ops.LOG_FLOOR == 1e-300 and kiv._ops.EXP_THRESHOLD == 709.78 and kiv._ops.core_letter(0) == "x"


# ---- text -------------------------------------------------------------------------------------------------

def test_plain_text_is_the_core_text_for_the_core_letters():
    for seed in range(300):
        tokens = _random_formula(seed).tokens
        # The core writes every constant with four fixed decimals; Formula does so from 0.1 to 1e6.
        tokens = tuple((k, i, 2.5 if 0 < abs(v) < 0.1 else v) for k, i, v in tokens)
        assert Formula(tokens, ["x", "y", "z"]).text == _native._render(tokens)


@pytest.mark.parametrize("value, text", [
    (0.0, "0.0000"), (-0.0, "-0.0000"), (1.0, "1.0000"), (-3.7123456, "-3.7123"), (0.1, "0.1000"),
    (999999.5, "999999.5000"), (1e6, "1.0000e+06"), (0.0123456, "1.2346e-02"), (1e-301, "1.0000e-301"),
    (-2.5e-12, "-2.5000e-12"), (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "NaN"),
])
def test_constants_show_readable_precision(value, text):
    assert Formula([(0, 0, value)], ["x"]).text == text
    assert Formula([(1, 3, value)], ["x"]).text == f"c3({text})"


def _as_shown(kind, v):
    """The constant (kind 0) or parameter value (kind 1) that the text of v reads back as."""
    if kind == 0 and bits(v) in (bits(math.pi), bits(math.e)) or math.isnan(v):
        return v
    return float(kiv.formula._number_text(v))


@settings(max_examples=300, deadline=None, derandomize=True)
@given(formulas())
def test_text_reads_back_to_the_same_tokens(f):
    back = Formula.parse(f.text, f.feature_names)
    want = [(k, i, _as_shown(k, v)) for k, i, v in f.tokens]
    assert [(k, i) for k, i, _ in back.tokens] == [(k, i) for k, i, _ in want]
    assert all(bits(a) == bits(b) or math.isnan(a) and math.isnan(b)
               for (_, _, a), (_, _, b) in zip(back.tokens, want))
    assert back.text == f.text


def test_core_text_reads_back_up_to_the_136th_variable():
    f = _random_formula(7, n_vars=4)
    wide = Formula([(2, 135, 0.0), (2, 3, 0.0), (3, 10, 0.0)] + list(f.tokens) + [(3, 8, 0.0)],
                   kiv.formula.default_feature_names(136))

    class Result:
        formula = _native._render(wide.tokens)
        error = 0.25

    back = Formula.from_result(Result)
    assert [t[:2] for t in back.tokens] == [t[:2] for t in wide.tokens] and back.text == wide.text
    assert back.error == 0.25 and back.score == 0.25 and back.rmse is None


def test_from_result_of_find_formula():
    import kiv_core

    r = kiv_core.find_formula([[1.0, 2.0, 3.0], [0.5, 1.0, 4.0]], [2.0, 5.0, 1.0], max_complexity=4)
    f = Formula.from_result(r, ["a", "b"])
    assert f.error == r.error and f.complexity == r.complexity
    assert Formula.from_result(r, ["x", "y"]).text == r.formula
    X = np.array([[1.0, 0.5], [2.0, 1.0], [3.0, 4.0]])
    assert bits(sequential_error(f.evaluate(X), [2.0, 5.0, 1.0], f.complexity)) == bits(r.error)


@pytest.mark.parametrize("text, message", [
    ("(x + )", "expected a number, a variable"),
    ("(x + y", "expected ')'"),
    ("foo(x)", "'foo' is not a function of the formula language"),
    ("foo", "'foo' is not one of the feature names"),
    ("x y", "unexpected text after the formula"),
    ("kiv(x)", "kiv takes 2 argument(s), 1 given"),
    ("exp(x, y)", "exp takes 1 argument(s), 2 given"),
    ("1e999 * x", "the number '1e999' is too large for a float"),
    ("٣ * x", "expected a number, a variable"),
    ("x + ３", "expected a number, a variable"),
    ("2x", "unexpected text after the formula"),
    ("`x", "a name in backticks is not closed"),
    ("`z`", "'z' is not one of the feature names"),
    ("", "the formula ends where an operand should be"),
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
    # Numbers in any float syntax, read exactly.
    g = Formula.parse("0.1234567890123456789 * x + 1_000.5e-3 - .5 + 5. + 1E+2", ["x"])
    assert [v for k, _, v in g.tokens if k == 0] == [0.1234567890123456789, 1.0005, 0.5, 5.0, 100.0]


MATHS = [
    ("m * v**2 / 2", lambda m, v: m * v**2 / 2),
    ("m * v^2 / 2", lambda m, v: m * v**2 / 2),
    ("-m**2 + v", lambda m, v: -m**2 + v),
    ("2**-1 * m - v - 1", lambda m, v: 2**-1 * m - v - 1),
    ("m / v / 2 * 3", lambda m, v: m / v / 2 * 3),
    ("1/m*v", lambda m, v: 1 / m * v),
    ("(1/m + v)", lambda m, v: 1 / m + v),
    ("(-m * v)", lambda m, v: -m * v),
    ("-(m + v)", lambda m, v: -(m + v)),
    ("+m - -v", lambda m, v: m + v),
    ("exp(-m) + log(v) - ln(m)", lambda m, v: math.exp(-m) + math.log(v) - math.log(m)),
    ("sqrt(m) ** 3 + m ** 0.5 + v ** -0.5", lambda m, v: math.sqrt(m) ** 3 + m ** 0.5 + v ** -0.5),
    ("m ** 2.5 + m ** v + v ** 0 + m ** -2", lambda m, v: m ** 2.5 + m ** v + 1 + m ** -2),
    ("m ** (-2) * v ** (-0.5)", lambda m, v: 1 / (m * m) / math.sqrt(v)),
    ("pi * e * π + abs(-m) + sin(m) * cos(v)",
     lambda m, v: math.pi * math.e * math.pi + m + math.sin(m) * math.cos(v)),
    ("kiv(m, v) * 2", lambda m, v: 2 * (math.exp(m) - math.log(v))),
]


@pytest.mark.parametrize("text, fn", MATHS, ids=[t for t, _ in MATHS])
def test_parse_reads_ordinary_maths(text, fn):
    f = Formula.parse(text, ["m", "v"])
    X = np.random.default_rng(2).uniform(0.2, 3, (50, 2))
    np.testing.assert_allclose(f.evaluate(X), [fn(*row) for row in X], rtol=1e-12)
    # Integer and half powers are products, reciprocals and roots, not exp of a logarithm.
    if "**" in text and "** v" not in text and "2.5" not in text:
        assert "exp" not in f.text


# ---- names ------------------------------------------------------------------------------------------------

def test_any_names_are_shown_as_given_and_become_identifiers():
    names = ["sepal length (cm)", 0, "πr", "e", "np", "ｆ"]
    f = Formula.parse("`sepal length (cm)` * `0` + πr - `e` + `np` + ｆ", names)
    assert f.feature_names == ("sepal length (cm)", "0", "πr", "e", "np", "ｆ")
    assert f.text == "(((((`sepal length (cm)` * `0`) + πr) - `e`) + np) + ｆ)"
    assert f.identifiers == {"sepal length (cm)": "sepal_length_cm", "0": "x_0", "πr": "πr", "e": "e_",
                             "np": "np_", "ｆ": "f_"}
    assert r"\mathrm{sepal\ length\ (cm)}" in f.to_latex() and "{e}" not in f.to_latex()
    # Clashes settle deterministically, a name that is already an identifier keeping its own.
    g = Formula([(2, 0, 0.0), (2, 1, 0.0), (3, 9, 0.0), (2, 2, 0.0), (3, 9, 0.0)], ["a b", "a_b", "a-b"])
    assert tuple(g.identifiers.values()) == ("a_b_2", "a_b", "a_b_3")
    assert Formula.parse("`a b` + a_b + `a-b`", ["a b", "a_b", "a-b"]) == g


def test_names_equal_to_python_after_nfkc_are_one_name():
    with pytest.raises(ValueError, match="feature_names: 'ｘ' is the same name as 'x' to Python"):
        Formula.parse("x", ["x", "ｘ"])
    # Python reads "ｘ" as "x": so does the reader, and the exported source cannot tell them apart.
    assert Formula.parse("ｘ + x", ["x"]).tokens == ((2, 0, 0.0), (2, 0, 0.0), (3, 9, 0.0))
    f = Formula.parse("ｎｐ * ｘ", ["ｎｐ", "ｘ"])
    assert f.identifiers == {"ｎｐ": "np_", "ｘ": "x"}
    namespace = {}
    exec(f.to_python(), namespace)
    assert same_array(namespace["f"]([[2.0, 3.0]]), [6.0])


def test_exports_cannot_run_or_typeset_code_from_a_name():
    bad = ["x); __import__('os').system('exit 3'); (x", "a\\input{/etc/passwd}", "'''", "f", "_kiv_ok", "def"]
    f = Formula([(2, i, 0.0) for i in range(len(bad))] + [(3, 9, 0.0)] * (len(bad) - 1), bad)
    source = f.to_python()
    names = {n.id for n in ast.walk(ast.parse(source)) if isinstance(n, ast.Name)}
    helpers = {"np", "X", "_kiv_ok", "v", "a", "b", "a1", "b1"}
    assert names <= set(f.identifiers.values()) | helpers
    namespace = {}
    exec(source, namespace)
    assert same_array(namespace["f"]([list(range(6))]), [15.0])
    assert r"\input" not in f.to_latex() and r"\backslash{}input\{/etc/passwd\}" in f.to_latex()
    with pytest.raises(ValueError, match="name: 'x_import_os_system_exit_3_x' is used by the source itself"):
        f.to_python("x_import_os_system_exit_3_x")
    with pytest.raises(ValueError, match="name: 'a b' is not a valid Python identifier"):
        f.to_python("a b")


def _forged(state):
    """A pickle stream naming only the class: a bare object, then its slots set from a state (BUILD), which an
    unpickler that admits Formula alone lets through."""
    body = pickle.dumps((None, state), protocol=2)[2:-1]
    return b"\x80\x02ckiv.formula\nFormula\n)\x81" + body + b"b."


@pytest.mark.parametrize("state, message", [
    ({"_tokens": ((2, 0, 0.0),), "_names": ("x\nimport os",)}, "contains a control character"),
    ({"_tokens": ((2, 1, 0.0),), "_names": ("x",)}, "variable 1 is beyond the 1 features"),
    ({"_tokens": ((3, 99, 0.0),), "_names": ("x",)}, "unknown operator code 99"),
    ({"_tokens": ((2, 0, 0.0),), "_names": ("x",), "_rmse": "1"}, "rmse: expected a real number"),
    ({"_tokens": ((2, 0, 0.0),), "_names": ("x",), "_settings": (("a", object()),)}, "not a setting of plain value"),
    ({"_tokens": ((2, 0, 0.0),), "_names": ("x",), "_evil": 1}, "not the attributes of a Formula"),
])
def test_every_way_in_through_pickle_is_checked(state, message):
    with pytest.raises(ValueError, match=message):
        pickle.loads(_forged(state))
    good = pickle.loads(_forged({"_tokens": ((2, 0, 0.0),), "_names": ("x",), "_rmse": 0.5}))
    assert good == Formula([(2, 0, 0.0)], ["x"], rmse=0.5)


# ---- SymPy ------------------------------------------------------------------------------------------------

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


@settings(max_examples=100, deadline=None, derandomize=True)
@given(formulas())
def test_exports_keep_constants_exact(f):
    X = _random_rows(3, f.n_features, rows=16)
    namespace = {"np": LibmNumpy()}
    exec(f.to_python().replace("import numpy as np", ""), namespace)
    assert same_array(namespace["f"](X), f.evaluate(X))
    sympy = pytest.importorskip("sympy")
    expr = f.to_sympy(evaluate=False)
    values = [float(c) for c in expr.atoms(sympy.Float)]
    shown = {bits(v) for k, _, v in f.tokens if k in (0, 1)}
    assert all(bits(v) in shown or bits(-v) in shown for v in values)


@settings(max_examples=150, deadline=None, derandomize=True)
@given(st.integers(0, 10**6))
def test_unevaluated_sympy_lambdifies_to_the_same_numbers_as_evaluate(seed):
    sympy = pytest.importorskip("sympy")
    f = _random_formula(seed, n_vars=2)
    X = _random_rows(seed, 2)
    expr = f.to_sympy(evaluate=False)
    fn = sympy.lambdify(sympy.symbols("x0 x1"), expr, [LIBM, "numpy"])
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore")  # complex or infinite values where evaluate has none
        got = np.broadcast_to(np.real(np.asarray(fn(X[:, 0], X[:, 1]))).astype(float), (len(X),))
    want = f.evaluate(X)
    ok = ~np.isnan(want)
    # Equal values; only the sign of a zero may differ, as SymPy has no -0.
    assert np.array_equal(got[ok], want[ok])


@pytest.mark.parametrize("text", ["(1/cos(sqrt((1/exp(1.0000)))))", "((1.0000 / 0.0000) + x)",
                                  "ln((-1.0000))", "kiv((1/(-π)), sqrt(2.0000))", "(x / (1/(1/(x - x))))"])
def test_unevaluated_sympy_of_constant_parts(text):
    sympy = pytest.importorskip("sympy")
    f = Formula.parse(text, ["x"])
    expr = f.to_sympy(evaluate=False)
    value = sympy.lambdify([sympy.Symbol("x")], expr, [LIBM, "numpy"])
    with np.errstate(all="ignore"):
        got = float(np.real(value(0.7)))
    want = float(f.evaluate([0.7])[0])
    assert bits(got) == bits(want) or math.isnan(want)


@pytest.mark.parametrize("text", ["ln(((x - x) - 1.0000))", "(y + (1/(x - x)))", "sqrt((0.0000 - 3.0000))",
                                  "(y * exp(ln((-1.0000))))"])
def test_simplified_sympy_of_a_part_without_a_value_is_nan(text):
    sympy = pytest.importorskip("sympy")
    f = Formula.parse(text, ["x", "y"])
    assert f.to_sympy() is sympy.nan and np.isnan(f.evaluate([[1.0, 2.0]])).all()


def test_sympy_is_linear_in_depth():
    sympy = pytest.importorskip("sympy")
    deep = Formula([(2, 0, 0.0)] + [(2, 0, 0.0), (3, 8, 0.0)] * 3000, ["x"])
    expr = deep.to_sympy(evaluate=False)
    assert isinstance(expr, sympy.Basic) and deep.to_sympy() is not None


@pytest.mark.parametrize("text", ["(exp(x) - ln(y))", "sqrt((abs(x) / y))", "(sin((x * y)) + (1/cos(x)))",
                                  "kiv(sqrt(x), ((y + 1.0000) - 1.0000))", "(x - ((1.0000 + x) - y))"])
def test_simplified_sympy_agrees_to_rounding(text):
    sympy = pytest.importorskip("sympy")
    f = Formula.parse(text, ["x", "y"])
    X = np.random.default_rng(1).uniform(0.1, 3, (200, 2))
    fn = sympy.lambdify(sympy.symbols("x y"), f.to_sympy())
    np.testing.assert_allclose(np.broadcast_to(fn(X[:, 0], X[:, 1]), (200,)), f.evaluate(X), rtol=1e-12,
                               atol=1e-12)


def test_sympy_symbols_are_the_users():
    sp = pytest.importorskip("sympy")
    f = Formula.parse("m * v**2 / 2 + sin(`t [s]`)", ["m", "v", "t [s]"])
    m, v, t = sp.symbols("m v t_s")
    expr = f.to_sympy()
    assert sp.simplify(sp.diff(expr, sp.Symbol("v")) - m * v - 0 * t) == 0
    assert sp.diff(expr, t) == sp.cos(t)
    assert expr.subs({m: 2, v: 3, t: 0}) == 9
    a, b = sp.symbols("a b", positive=True)
    assert f.to_sympy(symbols=[a, b, "tau"]) == a * b**2 / 2 + sp.sin(sp.Symbol("tau"))
    assert f.to_sympy(symbols={"v": 2 * b}) == m * (2 * b) ** 2 / 2 + sp.sin(t)
    with pytest.raises(ValueError, match="symbols: 'w' is not one of the feature names"):
        f.to_sympy(symbols={"w": a})
    with pytest.raises(ValueError, match="symbols: 2 given for 3 features"):
        f.to_sympy(symbols=[a, b])
    with pytest.raises(ValueError, match=r"symbols: 'm': <object .*> is not a SymPy expression"):
        f.to_sympy(symbols={"m": object()})


def test_sympy_kiv_keeps_its_guards():
    sympy = pytest.importorskip("sympy")
    f = Formula.parse("kiv(x, y)", ["x", "y"])
    expr = f.to_sympy()
    x, y = sympy.symbols("x y")
    fn = sympy.lambdify([x, y], expr)
    X = np.array([[800.0, 1.0], [0.0, 0.0], [0.0, -math.e], [1.0, 2.0]])
    assert same_array(fn(X[:, 0], X[:, 1]), f.evaluate(X))
    pw = expr.rewrite(sympy.Piecewise)
    assert float(pw.subs({x: 800.0, y: 1.0})) == pytest.approx(800.0, rel=1e-14)
    assert float(pw.subs({x: 0.0, y: 0.0})) == pytest.approx(691.7755278982137, rel=1e-14)
    assert float(expr.subs({x: 0.0, y: -2.0}).evalf()) == pytest.approx(1 - math.log(2.0), rel=1e-14)
    assert sympy.latex(expr) == r"\mathrm{kiv}\left(x, y\right)"
    g = Formula.parse("sqrt(abs((speed - 1.0000)))", ["speed"]).to_sympy()
    assert g == sympy.sqrt(sympy.Abs(sympy.Symbol("speed") - 1))


def test_to_latex():
    f = Formula.parse("(sqrt((temp_c / π)) + kiv(exp(x), (1/ln(x))))", ["temp_c", "x"])
    assert f.to_latex() == (r"\left(\sqrt{\frac{\mathrm{temp\_c}}{\pi}} + \mathrm{kiv}\left(\exp\left(x\right), "
                            r"\frac{1}{\ln\left(x\right)}\right)\right)")
    g = Formula.parse("0.1 * x + 3 - 2.5e-12", ["x"])
    assert g.to_latex() == r"\left(\left(\left(0.1 \cdot x\right) + 3\right) - 2.5 \cdot 10^{-12}\right)"


# ---- value semantics --------------------------------------------------------------------------------------

def test_equality_hash_pickle_repr():
    f = kiv.discover([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
    g = pickle.loads(pickle.dumps(f))
    assert g == f and hash(g) == hash(f) and g.settings == f.settings
    assert Formula.parse("x", ["x"]) != Formula.parse("z", ["z"])
    assert Formula([(0, 0, 0.0)], ["x"]) != Formula([(0, 0, -0.0)], ["x"])
    assert Formula.parse("x * 0.1", ["x"]) != Formula.parse("x * 0.1000000000000001", ["x"])
    assert repr(f) == "Formula('(x0 + x0)', error=0, rmse=0, score=0, r2=1, complexity=3)"
    assert repr(Formula.parse("(a * b)", ["a", "b"])) == "Formula('(a * b)', complexity=3, feature_names=('a', 'b'))"
    with pytest.raises(ValueError, match="tokens: an operator lacks its operand"):
        Formula([(3, 9, 0.0)], ["x"])
    with pytest.raises(ValueError, match="tokens: variable 2 is beyond the 1 features"):
        Formula([(2, 2, 0.0)], ["x"])


def test_rmse_score_and_r2_are_kept_compared_pickled_and_shown():
    f = Formula([(2, 0, 0.0), (0, 0, 1.5), (3, 11, 0.0)], ["x"], error=0.2, rmse=0.125, score=0.2, r2=0.99)
    assert (f.rmse, f.score, f.r2, f.error) == (0.125, 0.2, 0.99, 0.2)
    assert repr(f) == "Formula('(x * 1.5000)', error=0.2, rmse=0.125, score=0.2, r2=0.99, complexity=3, " \
                      "feature_names=('x',))"
    assert pickle.loads(pickle.dumps(f)) == f and f != Formula(f.tokens, ["x"], error=0.2, rmse=0.125, score=0.2)
    with pytest.raises(ValueError, match="r2: expected a real number or None, got str"):
        Formula(f.tokens, ["x"], r2="0.9")
    # A pickle made before these attributes existed still loads.
    old = kiv.formula._restore(f.tokens, ("x",), 0.2, False, (("beam_width", 10),))
    assert old.rmse is None and old.settings == {"beam_width": 10}


def _member(text, rmse, r2=None):
    f = Formula.parse(text, ["x"])
    return Formula(f.tokens, ["x"], error=rmse, rmse=rmse, score=rmse, r2=r2)


def test_a_front_is_kept_printed_compared_and_pickled_without_nesting():
    members = [_member("x", 1.5, 0.25), _member("x * 2.5", 0.125, 0.99), _member("x * 2.5 + 0.75", 0.0, 1.0)]
    inner = Formula(members[1].tokens, ["x"], error=0.125, rmse=0.125, score=0.125, r2=0.99, front=members)
    f = Formula(members[1].tokens, ["x"], error=0.125, rmse=0.125, score=0.125, r2=0.99, settings={"beam_width": 8},
                front=[members[0], inner, members[2]])
    front = f.front
    assert isinstance(front, kiv.Front) and front.chosen == 1
    assert [(m.tokens, m.rmse, m.score, m.r2) for m in front] == [(m.tokens, m.rmse, m.score, m.r2) for m in members]
    # Members carry the settings of their search and no front (inner's is dropped): a front does not nest.
    assert all(m.settings == {"beam_width": 8} and m.front == [] and not m.stopped_early for m in front)
    assert front[1].rmse == 0.125 and front[1].r2 == 0.99
    lines = str(front).splitlines()
    assert lines[0].split() == ["complexity", "rmse", "r2", "formula"]
    assert lines[2].split() == ["*", "3", "0.125", "0.990000", "(x", "*", "2.5000)"] and repr(front) == str(front)
    assert lines[3].split()[:3] == ["5", "0", "1.000000"]
    g = pickle.loads(pickle.dumps(f))
    assert g == f and hash(g) == hash(f) and g.front == front
    # The front is part of the value; repr stays the formula's.
    assert f != Formula(f.tokens, ["x"], error=0.125, rmse=0.125, score=0.125, r2=0.99, settings={"beam_width": 8})
    assert repr(f).startswith("Formula('(x * 2.5000)'")
    assert Formula.parse("x", ["x"]).front == [] and repr(Formula.parse("x", ["x"]).front) == "Front([])"


@pytest.mark.parametrize("front, message", [
    ([_member("x * x", 0.5), _member("x", 1.0)], "strictly ascending complexity"),
    ([_member("x", 1.0), _member("x * x", 1.0)], "strictly lower rmse"),
    ([Formula.parse("x", ["x"])], "has no rmse"),
    ([Formula.parse("z", ["z"])], "features ('z',) are not ('x',)"),
    (["x"], "expected Formula objects, got str"),
    ("x", "expected a sequence of Formula objects"),
])
def test_a_malformed_front_is_refused(front, message):
    with pytest.raises(ValueError) as info:
        Formula(((2, 0, 0.0),), ["x"], front=front)
    assert message in str(info.value)
    # The same checks guard the way in through pickle.
    with pytest.raises(ValueError, match="front: "):
        pickle.loads(_forged({"_tokens": ((2, 0, 0.0),), "_names": ("x",), "_front": front}))


def test_no_leaks():
    f = Formula.parse("kiv(x, ln(y))", ["x", "y"])
    X = np.random.default_rng(0).uniform(-1, 2, (1000, 2))
    assert_no_leak(lambda: f.evaluate(X), watched=(X,), repeat=500)
    assert_no_leak(lambda: f.evaluate(X[:, :1]), watched=(X,), repeat=500)
    assert_no_leak(lambda: Formula.parse("(x + ", ["x"]), repeat=500)
    assert_no_leak(lambda: _native._evaluate(((3, 99, 0.0),), X), watched=(X,), repeat=500)
    assert_no_leak(lambda: Formula.parse("`a b` * v**2 / 2 - 1e999", ["a b", "v"]), repeat=300)
    assert_no_leak(lambda: pickle.loads(_forged({"_tokens": ((2, 1, 0.0),), "_names": ("x",)})), repeat=300)
    assert_no_leak(lambda: (f.to_python(), f.to_latex(), f.text), repeat=300)
    members = [_member("x", 1.0, 0.5), _member("x * x", 0.5, 0.9)]
    g = Formula(members[1].tokens, ["x"], rmse=0.5, front=members)
    assert_no_leak(lambda: (str(g.front), pickle.loads(pickle.dumps(g)) == g), repeat=300)
    assert_no_leak(lambda: Formula(g.tokens, ["x"], front=members[::-1]), repeat=300)
