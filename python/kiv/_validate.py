"""Input checks shared by discover, Formula.evaluate and the estimator: every error names its argument.

The rules for data frames, said once here and used by all three:

- A DataFrame whose column labels are all strings is read by name: the labels are the feature names (any
  strings), and a formula evaluates a frame by picking its columns by name, in any order.
- A DataFrame whose labels are not strings (``pd.DataFrame(ndarray)`` has 0, 1, ...) is read by position,
  as an array; its features get the default names x0, x1, ... A frame mixing the two kinds is refused.
- Only numeric and boolean columns are data: a datetime, timedelta, categorical, string or object column is
  refused with its name, as is a datetime or timedelta array.
"""

from __future__ import annotations

import math
import numbers
import operator
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Final, TypeAlias

import numpy as np
import numpy.typing as npt

from kiv import _native
from kiv._names import MAX_FEATURES, check_feature_names, default_feature_names

if TYPE_CHECKING:
    from kiv._native import SearchDefaults

__all__ = [
    "SEARCH_DEFAULTS",
    "Floats",
    "as_matrix",
    "count",
    "flag",
    "frame_feature_names",
    "is_dataframe",
    "real",
    "training_data",
]

Floats: TypeAlias = npt.NDArray[np.float64]

#: The search settings' defaults in their public order, as the core defines them (one place for each).
SEARCH_DEFAULTS: Final[SearchDefaults] = _native.search_defaults


def is_dataframe(obj: object) -> bool:
    """Whether ``obj`` is a pandas DataFrame, recognised without importing pandas."""
    return type(obj).__module__.startswith("pandas") and hasattr(obj, "columns") and hasattr(obj, "to_numpy")


def _is_pandas(obj: object) -> bool:
    return type(obj).__module__.startswith("pandas") and hasattr(obj, "to_numpy")


def _check_pandas_dtype(dtype: Any, what: str) -> None:
    """ValueError, naming ``what``, unless ``dtype`` (a pandas or numpy dtype) holds real numbers or booleans."""
    from pandas.api.types import is_bool_dtype, is_complex_dtype, is_numeric_dtype

    if is_complex_dtype(dtype):
        raise ValueError(f"{what}: complex values are not supported")
    if not (is_numeric_dtype(dtype) or is_bool_dtype(dtype)):
        raise ValueError(f"{what} holds {dtype} values, not real numbers: only numeric and boolean columns can be "
                         f"features (convert dates and durations to numbers, categories to codes, or drop it)")


def _frame_labels(frame: Any, argument: str) -> tuple[str, ...] | None:
    """The frame's column labels when they are all strings, None when none is (read by position)."""
    labels = list(frame.columns)
    strings = [isinstance(c, str) for c in labels]
    if labels and all(strings):
        return tuple(str(c) for c in labels)
    if not any(strings):
        return None
    raise ValueError(f"{argument}: the column names mix strings and other labels ({labels[:4]!r}...); make them "
                     f"all strings (X.columns = X.columns.astype(str)) to read the frame by name, or none to read "
                     f"it by position")


def _frame_floats(frame: Any, argument: str) -> Floats:
    """A frame's values as float64 (n_samples, n_columns), each column's dtype checked first."""
    for label, dtype in frame.dtypes.items():
        _check_pandas_dtype(dtype, f"{argument}: column {label!r}")
    values: Floats = frame.to_numpy(dtype=np.float64, na_value=np.nan)
    return values


def _select(frame: Any, names: Sequence[str], argument: str) -> Any:
    """The frame's columns named ``names``, in that order; ValueError for a name that is not one column."""
    columns = set(frame.columns)
    missing = [n for n in names if n not in columns]
    if missing:
        raise ValueError(f"{argument}: the DataFrame has no column(s) {missing}; a DataFrame whose column names are "
                         f"strings is read by name (rename its columns, or pass X.to_numpy() to read it by "
                         f"position)")
    picked = frame[list(names)]
    if picked.shape[1] != len(names):
        twice = sorted({n for n in names if list(frame.columns).count(n) > 1})
        raise ValueError(f"{argument}: the column name(s) {twice} appear more than once in the DataFrame")
    return picked


def frame_feature_names(frame: Any, argument: str = "X") -> tuple[str, ...] | None:
    """The feature names a DataFrame brings, under the rules of this module.

    Parameters
    ----------
    frame : pandas.DataFrame
        The data.
    argument : str
        The name the errors give the data.

    Returns
    -------
    tuple of str or None
        The column labels when they are all strings (checked as feature names), else None: the frame is
        read by position and its features get the default names.

    Raises
    ------
    ValueError
        For a column that does not hold numbers, mixed kinds of labels, or labels that cannot be feature
        names.
    """
    for label, dtype in frame.dtypes.items():
        _check_pandas_dtype(dtype, f"{argument}: column {label!r}")
    labels = _frame_labels(frame, argument)
    if labels is None:
        return None
    return check_feature_names(labels, argument=f"{argument} (its column names)")


def _ragged(rows: Sequence[Any], argument: str) -> None:
    """ValueError for a list of rows of different lengths, naming the first row that differs."""
    lengths: list[int | None] = []
    for row in rows:
        try:
            lengths.append(len(row))
        except TypeError:
            lengths.append(None)
    first = lengths[0]
    for i, n in enumerate(lengths):
        if n != first:
            what = "a scalar" if n is None else f"{n} values"
            was = "a scalar" if first is None else f"{first} values"
            raise ValueError(f"{argument}: ragged rows: row {i} has {what}, row 0 has {was}")


def _floats(obj: Any, argument: str) -> Floats:
    """``obj`` as a float64 array (no copy when it already is one), refusing what is not real numbers."""
    if isinstance(obj, (str, bytes)):
        raise ValueError(f"{argument}: expected numbers, got a {type(obj).__name__}")
    if isinstance(obj, np.ndarray) and obj.dtype == np.float64:
        return obj
    try:
        arr = np.asarray(obj)
    except ValueError:
        # numpy refuses inhomogeneous nesting; say which row is the odd one.
        if isinstance(obj, (list, tuple)) and obj:
            _ragged(obj, argument)
        raise ValueError(f"{argument}: ragged or inhomogeneous nesting") from None
    if arr.dtype == object and arr.ndim >= 1 and isinstance(obj, (list, tuple)) and obj:
        _ragged(obj, argument)
    kind = arr.dtype.kind
    if kind == "c":
        raise ValueError(f"{argument}: complex values are not supported")
    if kind in "Mm":
        # numpy would cast them to counts of their unit, which is rarely what a formula should see.
        raise ValueError(f"{argument}: {arr.dtype} values are dates or durations, not numbers; convert them to "
                         f"numbers (for example seconds) first")
    if kind in "USV":
        raise ValueError(f"{argument}: values must be real numbers, got {arr.dtype} data")
    if kind not in "biuf":
        try:
            arr = arr.astype(np.float64)
        except (TypeError, ValueError):
            raise ValueError(f"{argument}: values must be real numbers, got {arr.dtype} data") from None
    return arr.astype(np.float64, copy=False)


def _where_not_finite(arr: Floats) -> tuple[int, ...]:
    bad = np.argwhere(~np.isfinite(arr))[0]
    return tuple(int(i) for i in bad)


def _as_2d(arr: Floats, argument: str) -> Floats:
    if arr.ndim == 1:
        return arr.reshape(-1, 1)
    if arr.ndim != 2:
        raise ValueError(f"{argument}: expected a 2-D array (n_samples, n_features) or a 1-D array for one "
                         f"feature, got {arr.ndim} dimensions")
    return arr


def as_matrix(X: Any, argument: str, feature_names: Sequence[str] | None = None) -> Floats:
    """``X`` as a 2-D float64 array (n_samples, n_features) for evaluation.

    Parameters
    ----------
    X : array_like or pandas.DataFrame
        The data; a 1-D X is one feature. A DataFrame with string column names is read by
        ``feature_names``, one without by position.
    argument : str
        The name the errors give ``X``.
    feature_names : sequence of str, optional
        The names of the features the caller expects.

    Returns
    -------
    ndarray of float64
        Not-finite values are allowed here (evaluation gives NaN for them).
    """
    if is_dataframe(X):
        if feature_names is not None and _frame_labels(X, argument) is not None:
            X = _select(X, feature_names, argument)
        X = _frame_floats(X, argument)
    arr = _as_2d(_floats(X, argument), argument)
    if feature_names is not None and arr.shape[1] != len(feature_names):
        raise ValueError(f"{argument}: {arr.shape[1]} features, the formula expects {len(feature_names)} "
                         f"{tuple(feature_names)}")
    return arr


def _target(y: Any) -> Floats:
    if _is_pandas(y):
        dtypes = y.dtypes.items() if is_dataframe(y) else [(getattr(y, "name", None), y.dtype)]
        for label, dtype in dtypes:
            _check_pandas_dtype(dtype, "y" if label is None else f"y (column {label!r})")
        y = y.to_numpy(dtype=np.float64, na_value=np.nan)
    yv = _floats(y, "y")
    if yv.ndim == 2 and yv.shape[1] == 1:
        yv = yv[:, 0]
    if yv.ndim != 1:
        raise ValueError(f"y: expected a 1-D array of targets, got shape {yv.shape}")
    return yv


def training_data(X: Any, y: Any, feature_names: Sequence[str] | None) -> tuple[Floats, Floats, tuple[str, ...]]:
    """The training data of a search, checked.

    Parameters
    ----------
    X : array_like or pandas.DataFrame
        (n_samples, n_features), or 1-D for one feature. A DataFrame with string column names is read by
        name: its columns are the features, or, with ``feature_names``, the columns so named, in that order.
    y : array_like or pandas.Series
        (n_samples,) targets.
    feature_names : sequence of str or None
        The features' names; by default a frame's column names, else x0, x1, ...

    Returns
    -------
    X : ndarray of float64
        (n_samples, n_features).
    y : ndarray of float64
        (n_samples,).
    names : tuple of str
        The feature names.

    Raises
    ------
    ValueError
        Naming the argument, for malformed data or names.
    """
    names: tuple[str, ...] | None = None
    if is_dataframe(X):
        labels = frame_feature_names(X, "X") if feature_names is None else _frame_labels(X, "X")
        if labels is not None:
            names = labels if feature_names is None else check_feature_names(feature_names)
            X = _select(X, names, "X")
        X = _frame_floats(X, "X")
    arr = _as_2d(_floats(X, "X"), "X")
    n, k = arr.shape
    if n == 0:
        raise ValueError("X: no samples")
    if k == 0:
        raise ValueError("X: no features")
    if k > MAX_FEATURES:
        raise ValueError(f"X: {k} features, more than the {MAX_FEATURES} that a formula can name (the formula "
                         f"text gives variable k the character of code 120 + k, which from k = {MAX_FEATURES} "
                         f"on collides with the characters of the formula syntax)")
    if not np.isfinite(arr).all():
        r, c = _where_not_finite(arr)
        raise ValueError(f"X: contains NaN or infinity (row {r}, feature {c})")
    if names is None:
        names = default_feature_names(k) if feature_names is None else check_feature_names(feature_names, k)

    yv = _target(y)
    if yv.shape[0] != n:
        raise ValueError(f"X and y: X has {n} samples, y has {yv.shape[0]}")
    if not np.isfinite(yv).all():
        raise ValueError(f"y: contains NaN or infinity (sample {_where_not_finite(yv)[0]})")
    return arr, yv, names


def count(value: object, argument: str, least: int = 0, why: str = "") -> int:
    """``value`` as an int in ``least .. 2**64 - 1`` (bools refused); TypeError or ValueError naming the
    argument, and saying ``why`` for a value below ``least``."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{argument}: expected an int, got {type(value).__name__}")
    v = operator.index(value)
    if v < least:
        raise ValueError(f"{argument}: expected at least {least}, got {v}{why}")
    if v >= 2**64:
        raise ValueError(f"{argument}: {v} is outside {least} .. 2**64 - 1")
    return v


def real(value: object, argument: str, *, allow_nan: bool = True) -> float:
    """``value`` as a float (bools refused); TypeError naming the argument, ValueError for a NaN when not
    allowed."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{argument}: expected a real number, got {type(value).__name__}")
    v = float(value)
    if not allow_nan and math.isnan(v):
        raise ValueError(f"{argument}: expected a number, got NaN")
    return v


def flag(value: object, argument: str) -> bool:
    """``value`` as a bool: only True and False (numpy's included) are accepted."""
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{argument}: expected True or False, got {type(value).__name__}")
