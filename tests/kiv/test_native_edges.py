"""kiv._native at its edges: lists that their own items change, limits beyond the clock, fork in a callback."""

import textwrap
import warnings

import numpy as np
import pytest

import kiv
from kiv import _native
from leaks import assert_no_leak
from procs import run_python

# Each entry reads a list whose first item runs Python code (__index__ or __float__) that changes the list:
# replacing a later item must not change what the entry reads, and emptying the list must not crash it.
MUTATING_LISTS = textwrap.dedent("""
    import numpy as np
    from kiv import _native

    class Meddler:
        def __init__(self, value, change):
            self.value, self.change = value, change
        def __index__(self):
            self.change()
            return int(self.value)
        def __float__(self):
            self.change()
            return float(self.value)

    def run(entry, make, replacement):
        for how in ("replace", "empty"):
            items = []
            change = (lambda: items.__setitem__(1, replacement)) if how == "replace" else items.clear
            items.extend(make(Meddler, change))
            try:
                result = entry(items)
            except Exception as exc:
                result = type(exc).__name__
            print(how, result)

    X = np.array([[2.0, 3.0]])
    # x + 1.5, with the kind of the first token and then the value of the second computed by a meddler.
    kind_first = lambda M, c: [(M(2, c), 0, 0.0), (0, 0, 1.5), (3, 9, 0.0)]
    value_second = lambda M, c: [(2, 0, 0.0), (0, 0, M(1.5, c)), (3, 9, 0.0)]
    run(lambda t: _native._render(t), kind_first, (2, 1, 0.0))
    run(lambda t: _native._evaluate(t, X).tolist(), kind_first, (2, 1, 0.0))
    run(lambda t: _native._evaluate(t, X).tolist(), value_second, (0, 0, 7.0))
    sig = lambda M, c: [M(1, c), -1, -1, -1] + [1] * 8
    run(lambda s: _native._geometric_product_gufunc(s).signature, sig, 5)
""")


def test_private_entries_read_a_snapshot_of_lists_that_python_code_changes():
    out = run_python(MUTATING_LISTS).splitlines()
    gufunc = "(4096),(4096)->(4096)"
    assert out == ["replace (x + 1.5000)", "empty (x + 1.5000)", "replace [3.5]", "empty [3.5]",
                   "replace [3.5]", "empty [3.5]", f"replace {gufunc}", f"empty {gufunc}"]


X = np.array([[2.0, 3.0], [0.5, -1.0]])
SUM = [(2, 0, 0.0), (0, 0, 1.5), (3, 9, 0.0)]


@pytest.mark.parametrize(
    "call",
    [
        lambda: _native._render(list(SUM)),
        lambda: _native._render([(2, 0, 0.0), (3, 99, 0.0)]),  # unknown operator
        lambda: _native._evaluate(list(SUM), X),
        lambda: _native._evaluate([(2, 0, 0.0), (0, 0, "1.5")], X),  # a value that is not a number
        lambda: _native._evaluate([(2, 0, 0.0), [0, 0, 1.5]], X),  # a token that is not a tuple
        lambda: _native._geometric_product_gufunc([1, -1, 0]),
        lambda: _native._geometric_product_gufunc([1, 2]),
        lambda: _native._geometric_product_gufunc([1, "1"]),
    ],
)
def test_list_arguments_leave_nothing_behind(call):
    assert_no_leak(call, watched=(X,), repeat=500)


@pytest.mark.parametrize("seconds", [9.3e9, 9.5e9, 9.99e9, 1e300])
def test_a_time_limit_beyond_the_clock_is_no_limit(seconds):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        f = kiv.discover([[1.0], [2.0], [3.0]], [2.0, 4.0, 6.0], time_limit=seconds)
    assert f.text == "(x0 + x0)" and not f.stopped_early


def _raise(level, best):
    raise ZeroDivisionError


@pytest.mark.parametrize("settings", [dict(time_limit=9.5e9), dict(progress=_raise)])
def test_discover_with_limits_and_failing_callbacks_leaves_nothing_behind(settings):
    assert_no_leak(lambda: kiv.discover(X, X[:, 0], max_complexity=3, beam_width=20, **settings), watched=(X,),
                   repeat=200)


# A progress callback forks; the child returns from the callback (or raises from it) into a search whose
# thread exists only in the parent. The child must get an exception at once, the parent its result.
FORK_IN_CALLBACK = textwrap.dedent("""
    import os, time, warnings
    import numpy as np, kiv
    warnings.simplefilter("ignore", DeprecationWarning)  # forking a process with threads
    rng = np.random.default_rng(0)
    X, y = rng.uniform(0.5, 3.0, (200, 3)), rng.normal(size=200)
    settings = dict(max_complexity=9, beam_width=4000)  # most of a second after level 1
    pid = None

    def progress(level, best):
        global pid
        if level == 1:
            pid = os.fork()
            if pid == 0 and CHILD == "raise":
                raise ZeroDivisionError("raised in the child")

    try:
        f = kiv.discover(X, y, progress=progress, **settings)
        outcome = "returned"
    except Exception as exc:
        outcome = f"{type(exc).__name__}: {exc}"
    if pid == 0:
        os.write(1, outcome.encode())
        os._exit(0)
    deadline = time.monotonic() + 30
    while (status := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
        time.sleep(0.01)
    if status[0] == 0:
        os.kill(pid, 9)
        print("the child hung")
    print("|", f == kiv.discover(X, y, **settings))
""")


@pytest.mark.parametrize("child", ["return", "raise"])
def test_fork_in_a_progress_callback_raises_in_the_child(child):
    out = run_python(f"CHILD = {child!r}" + FORK_IN_CALLBACK)
    raised = ("ZeroDivisionError: raised in the child" if child == "raise" else
              "RuntimeError: kiv.discover: the process was forked during the search; its result goes to the parent "
              "process only")
    assert out == f"{raised}| True"
