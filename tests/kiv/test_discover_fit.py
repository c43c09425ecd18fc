"""constants="fit": laws that need a constant inside the formula, found through kiv.discover and the native
search; the reported numbers are those of the tokens; the same result at every thread count; nothing left
behind."""

import textwrap

import numpy as np
import pytest

import kiv
from kiv import _native
from discover_util import rmse_as_the_search_sums
from leaks import assert_no_leak
from procs import run_python

rng = np.random.default_rng(21)


@pytest.mark.parametrize("name, low, high, law", [
    ("barometric", 0.0, 5000.0, lambda h: 101325.0 * np.exp(-1.2e-4 * h)),
    ("adiabatic", 1.0, 5.0, lambda v: 3.0 * v ** -1.4),
    ("cooling", 0.0, 10.0, lambda t: 20.0 + 70.0 * np.exp(-0.3 * t)),
])
def test_laws_with_a_constant_inside_are_found(name, low, high, law):
    X = rng.uniform(low, high, (300, 1))
    y = law(X[:, 0])
    scaled = kiv.discover(X, y, constants="scale")
    fitted = kiv.discover(X, y, constants="fit")
    assert fitted.r2 > 1 - 1e-12 > scaled.r2, (name, str(fitted), str(scaled))
    # Fresh rows: the law itself, not an interpolation of the training rows.
    fresh = rng.uniform(low, high, (500, 1))
    np.testing.assert_allclose(fitted.evaluate(fresh), law(fresh[:, 0]), rtol=1e-8)


def test_fitted_best_and_front_report_the_numbers_of_their_tokens():
    X = rng.uniform(200.0, 1000.0, (250, 1))
    y = np.exp(-5802.5 / X[:, 0])
    tokens, score, rmse, r2, stopped, levels, front = _native._discover(X, y, constants="fit")
    assert rmse == rmse_as_the_search_sums(tokens, X, y)
    assert rmse < 1e-12 * np.sqrt(np.mean(y ** 2)) and stopped == 0
    assert any(k == 0 and v == pytest.approx(-5802.5, rel=1e-9) for k, _, v in tokens)
    assert front[-1][0] == tokens
    for entry_tokens, _, entry_rmse, _, complexity in front:
        assert entry_rmse == rmse_as_the_search_sums(entry_tokens, X, y)
        assert complexity == len(entry_tokens)
    assert [e[2] for e in front] == sorted((e[2] for e in front), reverse=True)


def test_fitted_result_is_the_same_at_every_thread_count():
    script = textwrap.dedent("""
        import numpy as np
        from kiv import _native
        X = np.random.default_rng(5).uniform(0.5, 3.0, (700, 2))
        y = 2.0 * np.exp(-0.37 * X[:, 0]) + X[:, 1] ** 1.3
        print(repr(_native._discover(X, y, max_complexity=7, beam_width=600, constants="fit")))
    """)
    outs = {threads: run_python(script, threads=threads) for threads in (1, 3)}
    assert len(set(outs.values())) == 1, outs


def test_fitting_leaves_nothing_behind():
    X = rng.uniform(1.0, 5.0, (24, 1))
    y = 3.0 * X[:, 0] ** -1.4 + np.sin(X[:, 0])  # out of reach: both rounds run
    assert_no_leak(lambda: _native._discover(X, y, max_complexity=3, beam_width=20, constants="fit"),
                   watched=(X, y), repeat=20)
    # A stop during the fit (a deadline already passed) and a failing progress callback.
    assert_no_leak(lambda: _native._discover(X, y, max_complexity=4, beam_width=40, constants="fit",
                                             time_limit=0.0), watched=(X, y), repeat=20)

    def fail(*args):
        raise RuntimeError("stop")

    def call():
        with pytest.raises(RuntimeError):
            _native._discover(X, y, max_complexity=4, beam_width=40, constants="fit", progress=fail)

    assert_no_leak(call, watched=(X, y), repeat=20)
