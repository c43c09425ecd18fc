"""kiv.sklearn.KIVRegressor: scikit-learn's estimator checks, pipelines, cross-validation, grid search."""

import numpy as np
import pytest

sklearn = pytest.importorskip("sklearn")

from sklearn.model_selection import GridSearchCV, cross_val_score  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import StandardScaler  # noqa: E402
from sklearn.utils.estimator_checks import parametrize_with_checks  # noqa: E402

import kiv  # noqa: E402
from kiv.sklearn import KIVRegressor  # noqa: E402
import discover_util  # noqa: E402,F401  (puts tests/python, with leaks.py, on the path)
from leaks import assert_no_leak  # noqa: E402

# Every check passes, so none is listed as an expected failure. Small search settings keep the ~50 fits of
# the checks quick; the check of array-API input is skipped by scikit-learn itself unless SCIPY_ARRAY_API is
# set.
EXPECTED_FAILURES = {}


@parametrize_with_checks([KIVRegressor(max_complexity=4, beam_width=40)],
                         expected_failed_checks=lambda est: EXPECTED_FAILURES)
def test_estimator_checks(estimator, check):
    check(estimator)


def _data(rows=120, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.uniform(0.5, 3.0, (rows, 2))
    return X, np.exp(X[:, 0]) - np.log(X[:, 1])


def test_fit_predict_and_attributes():
    X, y = _data()
    est = KIVRegressor().fit(X, y)
    assert est.formula_.text == "kiv(x0, x1)" and est.n_features_in_ == 2
    assert est.formula_ == kiv.discover(X, y)
    assert isinstance(est.front_, kiv.Front) and est.front_ == est.formula_.front and est.front_[-1].r2 == 1.0
    assert np.array_equal(est.predict(X), est.formula_.evaluate(X)) and est.score(X, y) == 1.0
    noisy = KIVRegressor(max_complexity=3, beam_width=20).fit(X, y + np.sin(7 * X[:, 0]))
    assert noisy.formula_.r2 == pytest.approx(noisy.score(X, y + np.sin(7 * X[:, 0])), rel=1e-12)


def test_settings_go_to_discover_with_its_defaults_and_checks():
    import inspect

    core = kiv._native.search_defaults
    params = inspect.signature(KIVRegressor).parameters
    assert [(k, params[k].default) for k in core] == list(core.items()) and params["constants"].default is None
    X, y = _data(rows=30)
    settings = dict(max_complexity=3, beam_width=12, precision_goal=0.5, use_trig=False, use_kiv=False,
                    complexity_penalty=0.01, time_limit=100.0)
    assert KIVRegressor(**settings).fit(X, y).formula_ == kiv.discover(X, y, **settings)
    for bad, message in [(dict(complexity_penalty=float("nan")), "complexity_penalty: expected a finite number"),
                         (dict(beam_width=3), "beam_width: expected at least 4"),
                         (dict(max_complexity=0), "max_complexity: expected at least 1"),
                         (dict(constants="fitted"), "constants: expected None, 'scale' or 'fit', got 'fitted'")]:
        with pytest.raises(ValueError, match=message):
            KIVRegressor(**bad).fit(X, y)


def test_data_frames_follow_the_rules_of_discover():
    pd = pytest.importorskip("pandas")
    X, y = _data()
    df = pd.DataFrame(X, columns=["a", "b"])
    est = KIVRegressor().fit(df, y)
    assert list(est.feature_names_in_) == ["a", "b"] and est.formula_.text == "kiv(a, b)"
    assert KIVRegressor().fit(pd.DataFrame(X), y).formula_.feature_names == ("x0", "x1")
    dated = df.assign(when=pd.date_range("2024-01-01", periods=len(df)))
    with pytest.raises(ValueError, match="X: column 'when' holds datetime64"):
        KIVRegressor().fit(dated, y)


def test_any_column_names_reach_the_formula():
    pd = pytest.importorskip("pandas")
    X, y = _data()
    odd = KIVRegressor().fit(pd.DataFrame(X, columns=["a b", "c"]), y)
    assert odd.formula_.feature_names == ("a b", "c") and odd.formula_.text == "kiv(`a b`, c)"


def test_pipeline_cross_validation_and_parallel_grid_search():
    X, y = _data(rows=90)
    scores = cross_val_score(make_pipeline(KIVRegressor(max_complexity=4)), X, y, cv=3)
    assert scores.shape == (3,) and (scores > 0.99).all()
    grid = GridSearchCV(KIVRegressor(beam_width=100), {"max_complexity": [2, 4]}, cv=3, n_jobs=2).fit(X, y)
    assert grid.best_params_ == {"max_complexity": 4} and grid.best_estimator_.formula_.text == "kiv(x0, x1)"
    scaled = make_pipeline(StandardScaler(), KIVRegressor(max_complexity=3, beam_width=40)).fit(X, y)
    assert scaled.predict(X).shape == (90,)


def test_no_leaks():
    X, y = _data(rows=40)
    est = KIVRegressor(max_complexity=3, beam_width=20).fit(X, y)
    assert_no_leak(lambda: KIVRegressor(max_complexity=3, beam_width=20).fit(X, y).predict(X), watched=(X, y),
                   repeat=100)
    assert_no_leak(lambda: est.predict(X[:, :1]), watched=(X,), repeat=200)
    assert_no_leak(lambda: KIVRegressor(beam_width=3).fit(X, y), watched=(X, y), repeat=200)
