"""kiv.discover: the same answer as kiv_core.find_formula, validation, progress, time limit, interrupts."""

import math
import os
import re
import signal
import subprocess
import sys
import threading
import time
import warnings
from pathlib import Path

import numpy as np
import pytest

import kiv
from discover_util import absolute_goal, core_formula, r2_of, same_array, sequential_error
from leaks import assert_no_leak


# ---- same search, same answer ------------------------------------------------------------------------------

def _problem(seed):
    """Random data and settings; the target is a random mix that makes every way of stopping likely."""
    rng = np.random.default_rng(seed)
    n_features = int(rng.integers(1, 5))
    rows = int(rng.integers(1, 40))
    X = rng.uniform(0.2, 3.0, (rows, n_features))
    kind = seed % 4
    if kind == 0:  # a seed fits exactly: stops on the seeds
        y = X[:, int(rng.integers(n_features))].copy()
    elif kind == 1:  # a small formula fits: stops at precision_goal
        y = np.exp(X[:, 0]) - np.log(X[:, -1]) if rng.random() < 0.5 else X[:, 0] * X[:, -1]
    else:  # noise: runs every level
        y = rng.normal(size=rows) * 3
    settings = dict(max_complexity=int(rng.integers(1, 6)), beam_width=int(rng.choice([4, 8, 40, 400])),
                    precision_goal=float(rng.choice([1e-10, 0.0, 0.5, -1.0])),
                    use_trig=bool(rng.random() < 0.5), use_kiv=bool(rng.random() < 0.7),
                    complexity_penalty=float(rng.choice([0.001, 0.0, 0.1])))
    return X, y, settings


def test_same_answer_as_find_formula_on_random_problems():
    # discover's goal is relative to rms(y): the core, given goal * rms(y), finds the same formula.
    stops = {"seeds": 0, "goal": 0, "levels": 0}
    for seed in range(160):
        X, y, settings = _problem(seed)
        goal = absolute_goal(settings["precision_goal"], y)
        r, expected = core_formula(X, y, **{**settings, "precision_goal": goal})
        got = kiv.discover(X, y, **settings)
        assert got.tokens == expected.tokens, (seed, got, r)
        assert math.copysign(1, got.error) == math.copysign(1, r.error) and (
            got.error == r.error or (math.isnan(got.error) and math.isnan(r.error))), (seed, got.error, r.error)
        assert got.complexity == r.complexity and kiv._native._render(got.tokens) == r.formula
        assert not got.stopped_early
        # score is what the search ranked by; rmse the same error without the penalty, on the same rows.
        assert got.score == got.error
        penalty = settings["complexity_penalty"]
        assert got.rmse == sequential_error(got.evaluate(X), y, got.complexity, penalty=0.0)
        assert got.rmse * (got.complexity * penalty + 1.0) == got.score
        assert got.r2 == r2_of(got.rmse, y)
        if got.error <= goal:
            stops["seeds" if got.complexity == 1 else "goal"] += 1
        else:
            stops["levels"] += 1
    assert min(stops.values()) >= 10, stops


@pytest.mark.parametrize("scale", [1e-6, 1.0, 1e6])
def test_the_goal_is_relative_to_the_target(scale):
    # y = x0 * x1 at every scale of X (so y scales by scale**2, down to 1e-12): the same formula. With an
    # absolute goal of 1e-10, the constant 0 was within the goal of a target of order 1e-12.
    rng = np.random.default_rng(3)
    X = rng.uniform(0.5, 3.0, (40, 2)) * scale
    y = X[:, 0] * X[:, 1]
    f = kiv.discover(X, y)
    assert f.text == "(x1 * x0)" and f.rmse == 0.0 and f.r2 == 1.0
    # An all-zero target keeps the goal absolute (there is no scale to take it relative to).
    z = kiv.discover(X, np.zeros(40))
    assert z.text == "0.0000" and z.score == 0.0 and z.r2 == 1.0


def test_the_scale_of_a_huge_target_does_not_overflow():
    # sum(y**2) is inf here: a goal of inf would let the first seed win.
    X = np.random.default_rng(4).uniform(1.0, 2.0, (30, 2)) * 1e200
    f = kiv.discover(X, X[:, 0] + X[:, 1], max_complexity=4, beam_width=40)
    assert f.text == "(x1 + x0)" and f.r2 == 1.0


def test_more_than_three_features_get_default_names_and_same_tokens():
    rng = np.random.default_rng(5)
    X = rng.uniform(0.5, 2, (30, 5))
    y = X[:, 3] * X[:, 4]
    got = kiv.discover(X, y, max_complexity=3)
    _, expected = core_formula(X, y, feature_names=got.feature_names, max_complexity=3,
                               precision_goal=absolute_goal(1e-10, y))
    assert got.feature_names == ("x0", "x1", "x2", "x3", "x4")
    assert got.tokens == expected.tokens and got.text == "(x4 * x3)"


def test_one_dimensional_x_lists_and_data_frames():
    x = [1.0, 2.0, 3.0]
    f = kiv.discover(x, [2.0, 4.0, 6.0])
    assert f.text == "(x0 + x0)" and f.error == 0.0 and f.feature_names == ("x0",)
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"speed": [1.0, 2.0, 3.0], "time": [2.0, 1.0, 0.5]})
    g = kiv.discover(df, df.speed * df.time)
    assert g.feature_names == ("speed", "time") and g.text == "(time * speed)"
    assert same_array(g.evaluate(df), (df.speed * df.time).to_numpy())
    assert same_array(g.evaluate(df[["time", "speed"]]), (df.speed * df.time).to_numpy())  # read by name


BAD_INPUT = [
    (dict(X=[[1.0, 2.0], [3.0]], y=[1.0, 2.0]), ValueError, "X: ragged rows: row 1 has 1 values"),
    (dict(X=[[1.0], [2.0]], y=[1.0]), ValueError, "X and y: X has 2 samples, y has 1"),
    (dict(X=np.zeros((0, 2)), y=[]), ValueError, "X: no samples"),
    (dict(X=np.zeros((3, 0)), y=[1.0, 2.0, 3.0]), ValueError, "X: no features"),
    (dict(X=[[1.0], [math.nan]], y=[1.0, 2.0]), ValueError, "X: contains NaN or infinity (row 1, feature 0)"),
    (dict(X=[[1.0], [2.0]], y=[1.0, math.inf]), ValueError, "y: contains NaN or infinity (sample 1)"),
    (dict(X=np.ones((2, 137)), y=[1.0, 2.0]), ValueError, "X: 137 features, more than the 136"),
    (dict(X=[[1.0], [2.0]], y=[1.0, 2.0], feature_names=[""]), ValueError, "feature_names: a name is empty"),
    (dict(X=[[1.0, 2.0]], y=[1.0], feature_names=["x", "ｘ"]), ValueError,
     "feature_names: 'ｘ' is the same name as 'x' to Python"),
    (dict(X=[[1.0, 2.0]], y=[1.0], feature_names=["a", "a"]), ValueError, "feature_names: 'a' appears more than once"),
    (dict(X=[[1.0, 2.0]], y=[1.0], feature_names=["a"]), ValueError, "feature_names: 1 names given for 2 features"),
    (dict(X=[[1.0]], y=[1.0], feature_names=["a\nb"]), ValueError, "feature_names: 'a\\nb' contains a control"),
    (dict(X=[[1.0]], y=[1.0], feature_names=[1.5]), ValueError, "feature_names: 1.5 is not a string"),
    (dict(X=[["a"]], y=[1.0]), ValueError, "X: values must be real numbers"),
    (dict(X=[[1j]], y=[1.0]), ValueError, "X: complex values are not supported"),
    (dict(X=np.ones((2, 2, 2)), y=[1.0, 2.0]), ValueError, "X: expected a 2-D array"),
    (dict(X=[[1.0], [2.0]], y=[[1.0, 2.0], [1.0, 2.0]]), ValueError, "y: expected a 1-D array"),
    (dict(X="abc", y=[1.0]), ValueError, "X: expected numbers"),
    (dict(X=[[1.0]], y=[1.0], time_limit=0), ValueError, "time_limit: expected a positive number"),
    (dict(X=[[1.0]], y=[1.0], max_complexity=-1), ValueError, "max_complexity: expected at least 1, got -1"),
    (dict(X=[[1.0]], y=[1.0], max_complexity=0), ValueError, "max_complexity: expected at least 1, got 0"),
    (dict(X=[[1.0]], y=[1.0], max_complexity=2**64), ValueError, "max_complexity: 18446744073709551616 is outside"),
    (dict(X=[[1.0]], y=[1.0], beam_width=3), ValueError, "beam_width: expected at least 4, got 3 (each level keeps"),
    (dict(X=[[1.0]], y=[1.0], beam_width=0), ValueError, "beam_width: expected at least 4, got 0"),
    (dict(X=[[1.0]], y=[1.0], complexity_penalty=math.nan), ValueError,
     "complexity_penalty: expected a finite number >= 0, got nan"),
    (dict(X=[[1.0]], y=[1.0], complexity_penalty=-1), ValueError,
     "complexity_penalty: expected a finite number >= 0, got -1.0"),
    (dict(X=[[1.0]], y=[1.0], complexity_penalty=math.inf), ValueError,
     "complexity_penalty: expected a finite number >= 0, got inf"),
    (dict(X=[[1.0]], y=[1.0], precision_goal=math.nan), ValueError, "precision_goal: expected a number, got NaN"),
    (dict(X=np.array(["2024-01-01"], dtype="datetime64[D]"), y=[1.0]), ValueError,
     "X: datetime64[D] values are dates or durations"),
    (dict(X=[[1.0]], y=np.array([5], dtype="timedelta64[s]")), ValueError, "y: timedelta64[s] values are dates"),
    (dict(X=[["1.5"]], y=[1.0]), ValueError, "X: values must be real numbers, got <U3 data"),
    (dict(X=[[1.0]], y=[1.0], beam_width=2.5), TypeError, "beam_width: expected an int"),
    (dict(X=[[1.0]], y=[1.0], use_trig=1), TypeError, "use_trig: expected True or False"),
    (dict(X=[[1.0]], y=[1.0], progress="yes"), TypeError, "progress: expected None, a bool or a callable"),
    (dict(X=[[1.0]], y=[1.0], constants="linear"), ValueError,
     "constants: expected None, 'scale' or 'fit', got 'linear'"),
    (dict(X=[[1.0]], y=[1.0], constants=True), TypeError, "constants: expected None, 'scale' or 'fit', got bool"),
]


@pytest.mark.parametrize("kwargs, exc, message", BAD_INPUT, ids=[m[:30] for _, _, m in BAD_INPUT])
def test_bad_input_names_the_argument_and_the_problem(kwargs, exc, message):
    with pytest.raises(exc) as info:
        kiv.discover(**kwargs)
    assert message in str(info.value)


# ---- data frames as they come ------------------------------------------------------------------------------

def _frame(columns, rows=30, seed=11):
    pd = pytest.importorskip("pandas")
    data = np.random.default_rng(seed).uniform(0.5, 3.0, (rows, len(columns)))
    return pd.DataFrame(data, columns=columns)


def test_a_frame_with_string_names_is_read_by_name_also_with_feature_names():
    # Columns b, a, c and feature_names a, b: the search trains on the columns so named, which is how
    # evaluate reads the frame (it used to train by position and then evaluate by name).
    df = _frame(["b", "a", "c"])
    y = df.a - df.b
    f = kiv.discover(df, y, feature_names=["a", "b"])
    assert f.feature_names == ("a", "b") and f.rmse < 1e-12
    assert f.rmse == sequential_error(f.evaluate(df), y, f.complexity, penalty=0.0)
    # A name that is not a column is refused: a frame read by name cannot be renamed by position.
    with pytest.raises(ValueError, match=r"X: the DataFrame has no column\(s\) \['z'\]; .* is read by name"):
        kiv.discover(df, y, feature_names=["a", "z"])


def test_a_frame_without_string_names_is_read_by_position():
    df = _frame([0, 1])
    y = df[0] * np.exp(df[1])
    f = kiv.discover(df, y)
    assert f.feature_names == ("x0", "x1") and same_array(f.evaluate(df), f.evaluate(df.to_numpy()))
    g = kiv.discover(df, y, feature_names=["u", "v"])
    assert g.feature_names == ("u", "v") and same_array(g.evaluate(df), y.to_numpy())
    with pytest.raises(ValueError, match="X: the column names mix strings and other labels"):
        kiv.discover(_frame(["a", 1]), y)


def test_any_column_names_are_feature_names():
    df = _frame(["sepal length (cm)", "petal width (cm)"])
    y = df.iloc[:, 0] * df.iloc[:, 1]
    f = kiv.discover(df, y)
    assert f.feature_names == tuple(df.columns) and same_array(f.evaluate(df), y.to_numpy())


NOT_NUMBERS = [
    ("datetime64", lambda pd, n: pd.date_range("2024-01-01", periods=n)),
    ("timedelta64", lambda pd, n: pd.to_timedelta(np.arange(n), unit="s")),
    ("category", lambda pd, n: pd.Categorical(np.arange(n) % 3)),
    ("object", lambda pd, n: pd.Series([1.5, "v"] * (n // 2), dtype=object)),
    ("str", lambda pd, n: [f"v{i}" for i in range(n)]),
]


@pytest.mark.parametrize("dtype, make", NOT_NUMBERS, ids=[d for d, _ in NOT_NUMBERS])
def test_columns_that_are_not_numbers_are_refused_by_name(dtype, make):
    pd = pytest.importorskip("pandas")
    df = _frame(["ok"])
    df["when"] = make(pd, len(df))
    formula = kiv.Formula.parse("(ok + when)", ["ok", "when"])
    calls = [lambda: kiv.discover(df, df.ok), lambda: formula.evaluate(df), lambda: kiv.discover(df[["ok"]], df.when)]
    for call in calls:
        with pytest.raises(ValueError, match=rf"(X: column|y) .*'when'.* holds {dtype}\S* values, not real"):
            call()


# ---- settings and their defaults ---------------------------------------------------------------------------

def _defaults_in(parameters):
    core = kiv._native.search_defaults
    return [(p.name, type(p.default), p.default) for p in parameters if p.name in core]


def _stub_defaults():
    import ast

    tree = ast.parse((Path(__file__).resolve().parents[2] / "stubs" / "kiv_core-stubs" / "__init__.pyi").read_text())
    fn = next(n for n in tree.body if isinstance(n, ast.FunctionDef) and n.name == "find_formula")
    args = fn.args.args[len(fn.args.args) - len(fn.args.defaults):]
    return [(a.arg, type(v := ast.literal_eval(d)), v) for a, d in zip(args, fn.args.defaults)]


def test_each_search_default_is_said_once_by_the_core():
    import inspect

    import kiv_core

    core = kiv._native.search_defaults
    assert list(core) == ["max_complexity", "beam_width", "precision_goal", "use_trig", "use_kiv",
                          "complexity_penalty"]
    expected = [(k, type(v), v) for k, v in core.items()]
    # kiv_core's signature text is fixed and its stubs restate it: both must agree with the core's values.
    assert _defaults_in(inspect.signature(kiv_core.find_formula).parameters.values()) == expected
    assert _stub_defaults() == expected
    assert _defaults_in(inspect.signature(kiv.discover).parameters.values()) == expected
    # The native entry takes the same keywords, with the same defaults, and no settings by position.
    X = np.linspace(0.5, 2.0, 20).reshape(-1, 1)
    y = np.sin(X[:, 0]) + X[:, 0]
    assert kiv._native._discover(X, y)[0] == kiv._native._discover(X, y, **core)[0] == kiv.discover(X, y).tokens
    with pytest.raises(TypeError, match="at most 2 positional arguments"):
        kiv._native._discover(X, y, 8)


def test_data_frame_column_names_are_taken_as_they_come():
    pd = pytest.importorskip("pandas")
    f = kiv.discover(pd.DataFrame({"my col": [1.0, 2.0, 3.0]}), [2.0, 4.0, 6.0])
    assert f.feature_names == ("my col",) and f.text == "(`my col` + `my col`)"
    assert f.identifiers == {"my col": "my_col"}


def test_no_leak_on_success_and_error_paths():
    X = np.linspace(0.5, 2.0, 20).reshape(-1, 1)
    y = np.exp(X[:, 0])
    assert_no_leak(lambda: kiv.discover(X, y, max_complexity=3, beam_width=20), watched=(X, y), repeat=300)
    assert_no_leak(lambda: kiv.discover(X, y[:-1]), watched=(X, y), repeat=300)
    assert_no_leak(lambda: kiv.discover(X, y, complexity_penalty=math.nan), watched=(X, y), repeat=300)
    calls = []
    assert_no_leak(lambda: kiv.discover(X, -y, max_complexity=4, beam_width=20, progress=lambda *a: calls.append(1)),
                   watched=(X, y), repeat=100)
    assert_no_leak(lambda: kiv.discover(X, y, constants="linear"), watched=(X, y), repeat=300)
    # Two passes under a time limit (the complexity above the default), the front printed.
    assert_no_leak(lambda: str(kiv.discover(X, -y, max_complexity=9, beam_width=8, time_limit=100).front),
                   watched=(X, y), repeat=100)
    # The native entry's own refusals: a negative count, a flag that is not a bool, an unknown keyword.
    for bad in (dict(max_complexity=-1), dict(use_kiv=1), dict(beam_width=2**64), dict(colour=1)):
        assert_no_leak(lambda: kiv._native._discover(X, y, **bad), watched=(X, y), repeat=300)


def test_no_leak_with_data_frames():
    pd = pytest.importorskip("pandas")
    df = _frame(["b", "a"], rows=20)
    bad = df.assign(when=pd.date_range("2024-01-01", periods=20))
    y = df.a.to_numpy()
    assert_no_leak(lambda: kiv.discover(df, y, feature_names=["a", "b"], max_complexity=3, beam_width=20),
                   watched=(df, y), repeat=100)
    assert_no_leak(lambda: kiv.discover(bad, y), watched=(bad, y), repeat=100)


# ---- progress and time limit -----------------------------------------------------------------------------

# Settings under which a search of _slow_problem runs for many seconds, so that only a stop ends it early.
LONG = dict(max_complexity=14, beam_width=8000)


def _slow_problem(rows=3000, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.uniform(0.5, 3.0, (rows, 3))
    return X, rng.normal(size=rows)


def test_progress_callback_sees_every_level_and_ends_on_the_result():
    X, y = _slow_problem(rows=50)
    seen = []
    f = kiv.discover(X, y, max_complexity=5, beam_width=40, progress=lambda level, best: seen.append((level, best)))
    assert [level for level, _ in seen] == [0, 1, 2, 3, 4]
    errors = [best.error for _, best in seen]
    assert errors == sorted(errors, reverse=True)
    assert seen[-1][1].tokens == f.tokens and seen[-1][1].error == f.error


def test_progress_exception_stops_the_search_and_propagates():
    X, y = _slow_problem()

    def boom(level, best):
        if level == 1:
            raise ZeroDivisionError("from the callback")

    with pytest.raises(ZeroDivisionError, match="from the callback"):
        kiv.discover(X, y, progress=boom)
    # The search has ended: nothing is left computing on the worker pool.
    c0 = time.process_time()
    time.sleep(0.3)
    assert time.process_time() - c0 < 0.05
    assert kiv.discover([1.0, 2.0], [2.0, 4.0]).text == "(x0 + x0)"


def test_progress_bar(capsys):
    pytest.importorskip("tqdm")
    X, y = _slow_problem(rows=30)
    f = kiv.discover(X, y, max_complexity=4, beam_width=20, progress=True)
    err = capsys.readouterr().err
    assert "kiv.discover" in err and "level" in err and f is not None


def test_time_limit_returns_the_best_so_far_with_a_warning():
    # The default settings make one pass, which 20,000 rows of noise keep busy for seconds.
    X, y = _slow_problem(rows=20_000)
    seen = []
    start = time.monotonic()
    with pytest.warns(kiv.SearchStoppedWarning, match=r"time limit of 0.5 s reached after \d+ full level\(s\);"):
        f = kiv.discover(X, y, time_limit=0.5, progress=lambda level, best: seen.append(best))
    elapsed = time.monotonic() - start
    assert f.stopped_early and elapsed < 3.0
    last = seen[-1]
    assert (f.tokens, f.error, f.score, f.rmse, f.r2) == (last.tokens, last.error, last.score, last.rmse, last.r2)
    # The best over the levels fitted in full is what a search with just those levels finds.
    full = kiv.discover(X, y, max_complexity=len(seen))
    assert full.tokens == f.tokens and full.error == f.error and not full.stopped_early


# ---- anytime: under a time limit, wider passes after the defaults ------------------------------------------

WIDE = dict(max_complexity=12, beam_width=8000)


def _law(name, rows=300):
    X = np.random.default_rng(0).uniform(1.0, 3.0, (rows, 3))
    a, b, c = X.T
    return X, {"sqrt": np.sqrt(a * b) / c, "kinetic": 0.5 * a * b * b}[name]


def test_a_wide_search_under_a_time_limit_finds_what_the_defaults_find():
    # The defaults find sqrt(a b) / c exactly in hundredths of a second, while a beam of 8000 spends seconds
    # on its first levels: under a time limit the defaults run first, and a pass that meets the goal ends it.
    X, y = _law("sqrt")
    defaults = kiv.discover(X, y)
    with warnings.catch_warnings():
        warnings.simplefilter("error", kiv.SearchStoppedWarning)
        wide = kiv.discover(X, y, time_limit=30, **WIDE)
    assert defaults.rmse < 1e-14 and not wide.stopped_early
    assert (wide.tokens, wide.score, wide.rmse) == (defaults.tokens, defaults.score, defaults.rmse)
    # Without a time limit the settings are one pass, as kiv_core.find_formula runs them.
    _, core = core_formula(X, y, max_complexity=5, beam_width=400, precision_goal=absolute_goal(1e-10, y))
    assert kiv.discover(X, y, max_complexity=5, beam_width=400).tokens == core.tokens


def test_passes_widen_while_time_is_left_and_never_lose_the_defaults_result():
    X, y = _law("kinetic")
    defaults = kiv.discover(X, y)
    levels = []
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", kiv.SearchStoppedWarning)
        f = kiv.discover(X, y, time_limit=4, progress=lambda level, best: levels.append((level, best)), **WIDE)
    # Levels count on across the passes, and the best reported never gets worse.
    assert [lv for lv, _ in levels] == sorted({lv for lv, _ in levels})
    scores = [b.score for _, b in levels]
    assert scores == sorted(scores, reverse=True) and levels[-1][1].tokens == f.tokens
    first_pass_done = levels[-1][0] >= 8
    if first_pass_done:  # the usual case: the defaults' pass takes a fraction of the limit
        assert f.score <= defaults.score and levels[7][1].tokens == defaults.tokens
    assert f.stopped_early == bool(caught)
    if caught:
        assert re.search(r"reached (after \d+ full level\(s\) of pass [1-3] of 3 \(beam_width=\d+, max_complexity="
                         r"\d+\)|before pass [23] of 3)", str(caught[0].message))
    # The front gathers every pass: a lower rmse for each higher complexity, the result among its members,
    # and the defaults' result on it or matched by a member no longer and no worse (a wider pass may reach
    # the same function through other tokens first).
    front = f.front
    assert [m.complexity for m in front] == sorted({m.complexity for m in front})
    assert all(p.rmse > q.rmse for p, q in zip(front, front[1:]))
    # The result is the best over fully fitted levels; a level cut short may have put a formula on the front
    # that is as short and better (by rounding, another form of the same function), and then the result is
    # not a member.
    assert (front[front.chosen].tokens == f.tokens if front.chosen is not None else
            any(m.complexity <= f.complexity and m.rmse <= f.rmse for m in front))
    assert any(m.complexity <= defaults.complexity and m.rmse <= defaults.rmse for m in front) or not first_pass_done


def test_other_threads_run_during_a_search():
    X, y = _slow_problem()
    ticks = []
    stop = threading.Event()

    def heartbeat():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    t = threading.Thread(target=heartbeat)
    t.start()
    try:
        start = time.monotonic()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", kiv.SearchStoppedWarning)
            kiv.discover(X, y, time_limit=1.0, **LONG)
        during = [s for s in ticks if s >= start]
    finally:
        stop.set()
        t.join()
    assert len(during) > 30, len(during)


# ---- Ctrl-C ----------------------------------------------------------------------------------------------

CHILD = r"""
import ctypes, gc, os, signal, sys, time
import numpy as np
import kiv

# Started from a background job (nohup ... &), a process inherits SIGINT ignored, and the interpreter then
# installs no KeyboardInterrupt handler. Ctrl-C at a terminal meets the default one: put it back.
signal.signal(signal.SIGINT, signal.default_int_handler)

libc = ctypes.CDLL("libc.so.6")
class MallInfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]
libc.mallinfo2.restype = MallInfo2
def in_use():
    gc.collect()
    m = libc.mallinfo2()
    return m.uordblks + m.hblkhd

rng = np.random.default_rng(0)
X = rng.uniform(0.5, 3.0, (4000, 3)); y = rng.normal(size=4000)
kiv.discover(X[:50], y[:50], max_complexity=3)  # the pool and the lazily made objects exist from here on
before = in_use()
peak = [0]
def watch(level, best):
    peak[0] = max(peak[0], in_use())
    print(f"level {level}", flush=True)
try:
    kiv.discover(X, y, progress=watch, max_complexity=14, beam_width=8000)  # runs for many seconds
    print("finished")
except KeyboardInterrupt:
    t = time.monotonic()
    c0 = time.process_time(); time.sleep(0.3); idle_cpu = time.process_time() - c0
    after = in_use()
    again = kiv.discover([1.0, 2.0, 3.0], [2.0, 4.0, 6.0]).text
    print(f"interrupted {t!r} {after - before} {peak[0] - before} {idle_cpu!r} {again}", flush=True)
"""


def _ignore_sigint():
    signal.signal(signal.SIGINT, signal.SIG_IGN)


# "ignored": as the test command's children are when it was started with nohup ... &.
@pytest.mark.parametrize("inherited_sigint", [None, _ignore_sigint], ids=["default", "ignored"])
def test_ctrl_c_stops_the_search_quickly_and_frees_its_memory(inherited_sigint):
    env = dict(os.environ)
    proc = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=env, preexec_fn=inherited_sigint)
    # Levels 3 to 7 take most of the search's time: interrupt once level 2 is reported, and a little later.
    while (line := proc.stdout.readline().strip()) != "level 2":
        assert line.startswith("level"), (line, proc.stderr.read())
    time.sleep(0.2)
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    out = out.strip().splitlines()[-1]  # after any later level's line
    assert out.startswith("interrupted"), (out, err)
    _, t, grown, peak, idle_cpu, again = out.split(maxsplit=5)
    assert float(t) - sent < 0.5
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # the sanitizer's allocator keeps its own books
        assert int(peak) > 5_000_000  # the search did hold memory while it ran
        assert int(grown) < 1_000_000, grown  # and it is all back
    assert float(idle_cpu) < 0.05  # the worker pool is idle
    assert again.strip() == "(x0 + x0)"


MEMORY_CHILD = r"""
import math, resource, time
import numpy as np
import kiv

def statm(field):
    return int(open("/proc/self/statm").read().split()[field]) * resource.getpagesize()

x = np.linspace(0.1, 4.0, 30)
y = np.sin(3.7 * x) + 0.3 * x ** 3
before = kiv.discover(x, y, max_complexity=6)
resource.setrlimit(resource.RLIMIT_AS, (statm(0) + (160 << 20), resource.getrlimit(resource.RLIMIT_AS)[1]))
try:
    kiv.discover(x, y, max_complexity=15, beam_width=64000)
except MemoryError as e:
    message = str(e)
else:
    raise SystemExit("the search was not refused")
c0 = time.process_time(); time.sleep(0.3); idle = time.process_time() - c0
after = kiv.discover(x, y, max_complexity=6)
assert after == before, (after, before)
print(repr(idle))
print(message)
"""


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's shadow memory does not fit under an address-space limit")
def test_a_search_too_large_for_memory_is_an_ordinary_memory_error():
    out = subprocess.run([sys.executable, "-c", MEMORY_CHILD], capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    idle, message = out.stdout.split("\n", 1)
    assert float(idle) < 0.05 and message.startswith("formula search: level ")
