"""kiv.discover: the same answer as kiv_core.find_formula, validation, progress, time limit, interrupts."""

import math
import os
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
from discover_util import core_formula, same_array
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
    settings = dict(max_complexity=int(rng.integers(1, 6)), beam_width=int(rng.choice([0, 3, 8, 40, 400])),
                    precision_goal=float(rng.choice([1e-10, 0.0, 0.5, -1.0])),
                    use_trig=bool(rng.random() < 0.5), use_kiv=bool(rng.random() < 0.7),
                    complexity_penalty=float(rng.choice([0.001, 0.0, 0.1])))
    return X, y, settings


def test_same_answer_as_find_formula_on_random_problems():
    stops = {"seeds": 0, "goal": 0, "levels": 0}
    for seed in range(160):
        X, y, settings = _problem(seed)
        r, expected = core_formula(X, y, **settings)
        got = kiv.discover(X, y, **settings)
        assert got.tokens == expected.tokens, (seed, got, r)
        assert math.copysign(1, got.error) == math.copysign(1, r.error) and (
            got.error == r.error or (math.isnan(got.error) and math.isnan(r.error))), (seed, got.error, r.error)
        assert got.complexity == r.complexity
        if X.shape[1] <= 3:  # the core's letters x, y, z are the only names it shares with kiv
            assert kiv.Formula(got.tokens, list("xyz")[:X.shape[1]]).text == r.formula
        assert not got.stopped_early
        if got.error <= settings["precision_goal"]:
            stops["seeds" if got.complexity == 1 else "goal"] += 1
        else:
            stops["levels"] += 1
    assert min(stops.values()) >= 10, stops


def test_more_than_three_features_get_default_names_and_same_tokens():
    rng = np.random.default_rng(5)
    X = rng.uniform(0.5, 2, (30, 5))
    y = X[:, 3] * X[:, 4]
    got = kiv.discover(X, y, max_complexity=3)
    _, expected = core_formula(X, y, feature_names=got.feature_names, max_complexity=3)
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
    (dict(X=[[1.0]], y=[1.0], max_complexity=-1), ValueError, "max_complexity: -1 is outside"),
    (dict(X=[[1.0]], y=[1.0], beam_width=2.5), TypeError, "beam_width: expected an int"),
    (dict(X=[[1.0]], y=[1.0], use_trig=1), TypeError, "use_trig: expected True or False"),
    (dict(X=[[1.0]], y=[1.0], progress="yes"), TypeError, "progress: expected None, a bool or a callable"),
]


@pytest.mark.parametrize("kwargs, exc, message", BAD_INPUT, ids=[m[:30] for _, _, m in BAD_INPUT])
def test_bad_input_names_the_argument_and_the_problem(kwargs, exc, message):
    with pytest.raises(exc) as info:
        kiv.discover(**kwargs)
    assert message in str(info.value)


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
    calls = []
    assert_no_leak(lambda: kiv.discover(X, -y, max_complexity=4, beam_width=20, progress=lambda *a: calls.append(1)),
                   watched=(X, y), repeat=100)


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
    X, y = _slow_problem()
    seen = []
    start = time.monotonic()
    with pytest.warns(kiv.SearchStoppedWarning, match="time limit of 0.5 s reached"):
        f = kiv.discover(X, y, time_limit=0.5, progress=lambda level, best: seen.append(best), **LONG)
    elapsed = time.monotonic() - start
    assert f.stopped_early and elapsed < 3.0
    assert f == kiv.Formula(seen[-1].tokens, f.feature_names, error=seen[-1].error, stopped_early=True,
                            settings=f.settings)
    # The best over the levels fitted in full is what a search with just those levels finds.
    full = kiv.discover(X, y, max_complexity=len(seen), beam_width=LONG["beam_width"])
    assert full.tokens == f.tokens and full.error == f.error and not full.stopped_early


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
