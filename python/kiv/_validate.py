"""Input checks shared by discover, Formula.evaluate and the estimator: every error names its argument."""

import numbers
import operator

import numpy as np

from kiv._names import MAX_FEATURES, check_feature_names, default_feature_names


def is_dataframe(obj):
    """A pandas DataFrame, recognised without importing pandas."""
    return type(obj).__module__.startswith("pandas") and hasattr(obj, "columns") and hasattr(obj, "to_numpy")


def _ragged(rows, argument):
    """ValueError for a list of rows of different lengths, naming the first row that differs."""
    lengths = []
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


def _floats(obj, argument):
    """obj as a float64 array (no copy when it already is one), refusing what is not real numbers."""
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
    if arr.dtype.kind == "c":
        raise ValueError(f"{argument}: complex values are not supported")
    if arr.dtype.kind not in "biuf":
        try:
            arr = arr.astype(np.float64)
        except (TypeError, ValueError):
            raise ValueError(f"{argument}: values must be real numbers, got {arr.dtype} data") from None
    return arr.astype(np.float64, copy=False)


def _where_not_finite(arr):
    bad = np.argwhere(~np.isfinite(arr))[0]
    return tuple(int(i) for i in bad)


def as_matrix(X, argument, feature_names=None):
    """X as a 2-D float64 array (n_samples, n_features); a 1-D X is one feature. A DataFrame is read by
    feature_names when given. Not-finite values are allowed here (evaluation gives NaN for them)."""
    if is_dataframe(X):
        if feature_names is not None:
            missing = [n for n in feature_names if n not in X.columns]
            if missing:
                raise ValueError(f"{argument}: the DataFrame lacks the feature column(s) {missing}")
            X = X[list(feature_names)]
        try:
            X = X.to_numpy(dtype=np.float64)
        except (TypeError, ValueError):
            raise ValueError(f"{argument}: every column must be numeric") from None
    arr = _floats(X, argument)
    if arr.ndim == 1:
        arr = arr.reshape(-1, 1)
    elif arr.ndim != 2:
        raise ValueError(f"{argument}: expected a 2-D array (n_samples, n_features) or a 1-D array for one "
                         f"feature, got {arr.ndim} dimensions")
    if feature_names is not None and arr.shape[1] != len(feature_names):
        raise ValueError(f"{argument}: {arr.shape[1]} features, the formula expects {len(feature_names)} "
                         f"{tuple(feature_names)}")
    return arr


def training_data(X, y, feature_names):
    """X (n_samples, n_features) float64, y (n_samples,) float64 and the feature names, checked."""
    names = None
    if is_dataframe(X):
        columns = [str(c) if not isinstance(c, str) else c for c in X.columns]
        if feature_names is None:
            names = check_feature_names(columns, argument="X (its column names)")
        else:
            names = check_feature_names(feature_names, len(columns))
        try:
            X = X.to_numpy(dtype=np.float64)
        except (TypeError, ValueError):
            raise ValueError("X: every column must be numeric") from None
    arr = as_matrix(X, "X")
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

    if is_dataframe(y) or type(y).__module__.startswith("pandas"):
        y = y.to_numpy()
    yv = _floats(y, "y")
    if yv.ndim == 2 and yv.shape[1] == 1:
        yv = yv[:, 0]
    if yv.ndim != 1:
        raise ValueError(f"y: expected a 1-D array of targets, got shape {yv.shape}")
    if yv.shape[0] != n:
        raise ValueError(f"X and y: X has {n} samples, y has {yv.shape[0]}")
    if not np.isfinite(yv).all():
        raise ValueError(f"y: contains NaN or infinity (sample {_where_not_finite(yv)[0]})")
    return arr, yv, names


def count(value, argument):
    """A non-negative integer that fits 64 bits (bools refused)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{argument}: expected an int, got {type(value).__name__}")
    value = operator.index(value)
    if not 0 <= value < 2**64:
        raise ValueError(f"{argument}: {value} is outside 0 .. 2**64 - 1")
    return value


def real(value, argument):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{argument}: expected a real number, got {type(value).__name__}")
    return float(value)


def flag(value, argument):
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{argument}: expected True or False, got {type(value).__name__}")
