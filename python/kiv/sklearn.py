"""KIVRegressor: formula discovery as a scikit-learn regressor."""

from __future__ import annotations

from typing import Self

import numpy as np
import numpy.typing as npt
from sklearn.base import BaseEstimator, RegressorMixin
from sklearn.utils.validation import check_is_fitted, validate_data

from kiv._discover import Constants, discover
from kiv._validate import SEARCH_DEFAULTS, frame_feature_names, is_dataframe

__all__ = ["KIVRegressor"]

_D = SEARCH_DEFAULTS


class KIVRegressor(RegressorMixin, BaseEstimator):  # type: ignore[misc]  # scikit-learn has no types
    """Finds one formula y ≈ f(X) with :func:`kiv.discover` and predicts with it.

    Parameters
    ----------
    max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty, time_limit, constants
        The search settings of :func:`kiv.discover`, with its defaults and checks. ``constants="fit"`` gives
        formulas with fitted constants, which real data usually need.

    Attributes
    ----------
    formula_ : Formula
        The formula found. Its feature names follow discover's rules: a DataFrame's column names when they
        are strings (any strings; also ``feature_names_in_``), else ``x0, x1, ...``.
    front_ : Front
        The Pareto front of the search (``formula_.front``): the best formula per complexity, each with its
        rmse and r2 on the training rows; printed, a table.
    n_features_in_ : int
        The number of features seen in fit.
    feature_names_in_ : ndarray of str
        The column names of a DataFrame X with string column names.

    Notes
    -----
    predict gives NaN on rows where the formula has no value (a guard of one of its operators trips there).
    """

    def __init__(self, max_complexity: int = _D["max_complexity"], beam_width: int = _D["beam_width"],
                 precision_goal: float = _D["precision_goal"], use_trig: bool = _D["use_trig"],
                 use_kiv: bool = _D["use_kiv"], complexity_penalty: float = _D["complexity_penalty"],
                 time_limit: float | None = None, constants: Constants = None) -> None:
        self.max_complexity = max_complexity
        self.beam_width = beam_width
        self.precision_goal = precision_goal
        self.use_trig = use_trig
        self.use_kiv = use_kiv
        self.complexity_penalty = complexity_penalty
        self.time_limit = time_limit
        self.constants = constants

    def fit(self, X: npt.ArrayLike, y: npt.ArrayLike) -> Self:
        """Search a formula for y ≈ f(X).

        Parameters
        ----------
        X : array_like or pandas.DataFrame
            (n_samples, n_features).
        y : array_like
            (n_samples,) targets.

        Returns
        -------
        KIVRegressor
            self.
        """
        # A frame's columns are checked and named by discover's rules before scikit-learn turns it into an
        # array (by position, in column order, which is the order of the names).
        names = frame_feature_names(X) if is_dataframe(X) else None
        X, y = validate_data(self, X, y, y_numeric=True, dtype=np.float64)
        self.formula_ = discover(X, y, feature_names=names, **self.get_params(deep=False))
        self.front_ = self.formula_.front
        return self

    def predict(self, X: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """The formula's values on every row of X.

        Parameters
        ----------
        X : array_like or pandas.DataFrame
            (n_samples, n_features), with the features of fit in the same order.

        Returns
        -------
        ndarray of float64
            (n_samples,); NaN where the formula has no value.
        """
        check_is_fitted(self, "formula_")
        X = validate_data(self, X, reset=False, dtype=np.float64)
        values: npt.NDArray[np.float64] = self.formula_.evaluate(X)
        return values
