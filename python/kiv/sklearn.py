"""KIVRegressor: formula discovery as a scikit-learn regressor."""

import numpy as np
from sklearn.base import BaseEstimator, RegressorMixin
from sklearn.utils.validation import check_is_fitted, validate_data

from kiv._discover import discover
from kiv.formula import check_feature_names, default_feature_names

__all__ = ["KIVRegressor"]


class KIVRegressor(RegressorMixin, BaseEstimator):
    """Finds one formula y ≈ f(X) with :func:`kiv.discover` and predicts with it.

    The parameters are discover's search settings. After fit, ``formula_`` is the :class:`kiv.Formula`
    found; its feature names are ``feature_names_in_`` when X was a DataFrame whose column names are valid
    identifiers, else the default names (x, y, z or x0, x1, ...). predict gives NaN on rows where the
    formula has no value (a guard of one of its operators trips there).
    """

    def __init__(self, max_complexity=8, beam_width=2000, precision_goal=1e-10, use_trig=True, use_kiv=True,
                 complexity_penalty=0.001, time_limit=None):
        self.max_complexity = max_complexity
        self.beam_width = beam_width
        self.precision_goal = precision_goal
        self.use_trig = use_trig
        self.use_kiv = use_kiv
        self.complexity_penalty = complexity_penalty
        self.time_limit = time_limit

    def fit(self, X, y):
        X, y = validate_data(self, X, y, y_numeric=True, dtype=np.float64)
        names = default_feature_names(X.shape[1])
        if hasattr(self, "feature_names_in_"):
            try:
                names = check_feature_names(list(self.feature_names_in_), X.shape[1])
            except ValueError:
                pass
        self.formula_ = discover(X, y, feature_names=names, max_complexity=self.max_complexity,
                                 beam_width=self.beam_width, precision_goal=self.precision_goal,
                                 use_trig=self.use_trig, use_kiv=self.use_kiv,
                                 complexity_penalty=self.complexity_penalty, time_limit=self.time_limit)
        return self

    def predict(self, X):
        check_is_fitted(self, "formula_")
        X = validate_data(self, X, reset=False, dtype=np.float64)
        return self.formula_.evaluate(X)
