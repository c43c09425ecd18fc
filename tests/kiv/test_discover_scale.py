"""The native search with constants="scale": laws with constants found, the fitted map in the tokens at full
precision, the front's entries, the same result at every thread count, nothing left behind."""

import textwrap

import numpy as np
import pytest

import kiv
from kiv import _native
from discover_util import rmse_as_the_search_sums
from leaks import assert_no_leak
from procs import run_python

rng = np.random.default_rng(11)
X = rng.uniform(1.0, 5.0, (200, 2))


@pytest.mark.parametrize("law, constants", [
    (lambda x: 3.7 * x[:, 0] + 1.2, [3.7, 1.2]),
    (lambda x: 0.5 * 2.3 * x[:, 0] ** 2, [1.15]),
    (lambda x: 8.99 * x[:, 0] / x[:, 1] ** 2, [8.99]),
    (lambda x: x[:, 1] - x[:, 0], []),
])
def test_laws_with_constants_come_back_with_their_map(law, constants):
    y = law(X)
    tokens, score, rmse, r2, stopped, levels, front = _native._discover(X, y, constants="scale")
    assert rmse < 1e-12 * np.sqrt(np.mean(y ** 2)) and r2 == pytest.approx(1.0) and stopped == 0
    assert sorted(v for k, _, v in tokens if k == 0) == pytest.approx(sorted(constants), rel=1e-12)
    assert rmse == rmse_as_the_search_sums(tokens, X, y)
    # The best is the front's last entry: nothing beats an exact fit.
    assert front[-1][0] == tokens


def test_noise_keeps_no_offset_of_no_consequence():
    # 1 % noise on 0.5 m v²: the full map's offset lowers the rmse a little, by less than a constant must.
    y = 0.5 * X[:, 0] * X[:, 1] ** 2 * (1 + 0.01 * np.random.default_rng(3).normal(size=len(X)))
    tokens, *_ = _native._discover(X, y, constants="scale")
    assert [v for k, _, v in tokens if k == 0] == pytest.approx([0.5], rel=1e-2)


def test_front_entries_are_what_their_tokens_evaluate_to():
    y = 3.0 * np.sin(X[:, 0]) + 0.1 * X[:, 1]
    sd = np.sqrt(np.mean((y - y.mean()) ** 2))
    for constants in (None, "scale"):
        found = _native._discover(X, y, max_complexity=7, beam_width=200, constants=constants)
        front = found[6]
        assert len(front) >= 2
        assert [c for *_, c in front] == sorted({c for *_, c in front})
        assert all(p[2] > q[2] for p, q in zip(front, front[1:]))
        assert found[0] in [e[0] for e in front]
        for tokens, score, rmse, r2, complexity in front:
            assert complexity == len(tokens)
            assert rmse == rmse_as_the_search_sums(tokens, X, y)
            if constants is None:
                assert score == rmse * (complexity * 0.001 + 1.0)
            else:  # ranked with the map's four tokens, its rmse within the leaving-out rule of the reported
                assert rmse * (complexity * 0.001 + 1.0) * (1 - 1e-6) <= score
                assert score <= rmse * ((complexity + 4) * 0.001 + 1.0) * (1 + 1e-9)
            assert r2 == 1.0 - (rmse / sd) ** 2


def test_unknown_constants_setting_is_refused_with_a_reason():
    with pytest.raises(ValueError, match="constants must be None"):
        _native._discover(X, X[:, 0], constants="linear")


def test_scaled_result_is_the_same_at_every_thread_count():
    script = textwrap.dedent("""
        import numpy as np
        from kiv import _native
        X = np.random.default_rng(5).uniform(0.5, 3.0, (3000, 3))
        y = 2.0 * np.sin(X[:, 0] * X[:, 1]) - 0.3 * X[:, 2]
        print(repr(_native._discover(X, y, max_complexity=7, beam_width=600, constants="scale")))
    """)
    outs = {threads: run_python(script, threads=threads) for threads in (1, 3)}
    assert len(set(outs.values())) == 1, outs


def test_scaled_search_leaves_nothing_behind():
    y = 3.7 * X[:, 0] + 1.2
    assert_no_leak(lambda: _native._discover(X, y, max_complexity=4, beam_width=40, constants="scale"),
                   watched=(X, y), repeat=100)
    assert_no_leak(lambda: _native._discover(X, -np.sin(y), max_complexity=5, beam_width=40, constants="scale",
                                             progress=lambda *a: None), watched=(X, y), repeat=50)
    for bad in ("linear", 1):
        assert_no_leak(lambda: _native._discover(X, y, constants=bad), watched=(X, y), repeat=200)
