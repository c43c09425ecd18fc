"""kiv.discover: the formula search for data in the scikit-learn layout, interruptible and with progress."""

from __future__ import annotations

import math
import sys
import warnings
from collections.abc import Callable, Sequence
from typing import Any, NamedTuple

import numpy.typing as npt

from kiv import _native
from kiv._validate import SEARCH_DEFAULTS, count, flag, real, training_data
from kiv.formula import Formula

__all__ = ["discover", "SearchStoppedWarning"]

_D = SEARCH_DEFAULTS


class SearchStoppedWarning(RuntimeWarning):
    """The search was cut short by its time limit; the formula is the best found until then."""


class _Settings(NamedTuple):
    """The settings of one search, checked, in the public order (the keywords of ``_native._discover``)."""

    max_complexity: int
    beam_width: int
    precision_goal: float
    use_trig: bool
    use_kiv: bool
    complexity_penalty: float
    time_limit: float | None


def _settings(max_complexity: object, beam_width: object, precision_goal: object, use_trig: object,
              use_kiv: object, complexity_penalty: object, time_limit: object) -> _Settings:
    """The settings checked, in their public order; TypeError or ValueError naming the argument."""
    penalty = real(complexity_penalty, "complexity_penalty")
    if not (math.isfinite(penalty) and penalty >= 0.0):
        raise ValueError(f"complexity_penalty: expected a finite number >= 0, got {penalty!r}")
    seconds = None
    if time_limit is not None:
        t = real(time_limit, "time_limit")
        if not t > 0:
            raise ValueError(f"time_limit: expected a positive number of seconds, got {time_limit!r}")
        seconds = t if math.isfinite(t) else None
    return _Settings(
        max_complexity=count(max_complexity, "max_complexity", least=1, why=" (a formula has one token or more)"),
        beam_width=count(beam_width, "beam_width", least=4,
                         why=" (each level keeps its best beam_width // 4 candidates to build on, so a smaller "
                             "width keeps none)"),
        precision_goal=real(precision_goal, "precision_goal", allow_nan=False),
        use_trig=flag(use_trig, "use_trig"),
        use_kiv=flag(use_kiv, "use_kiv"),
        complexity_penalty=penalty,
        time_limit=seconds,
    )


class _Bar:
    """Per-level progress on a tqdm bar, or as lines on stderr when tqdm is not installed."""

    def __init__(self, levels: int) -> None:
        try:
            from tqdm.auto import tqdm
        except ImportError:
            self.bar: Any = None
        else:
            self.bar = tqdm(total=levels, desc="kiv.discover", unit="level")

    def __call__(self, level: int, formula: Formula) -> None:
        text = f"rmse={formula.rmse:.3g} {formula.text}"
        if self.bar is None:
            print(f"kiv.discover: level {level}: {text}", file=sys.stderr)
        else:
            self.bar.update(level + 1 - self.bar.n)
            self.bar.set_postfix_str(text, refresh=False)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def discover(X: npt.ArrayLike, y: npt.ArrayLike, *, feature_names: Sequence[str] | None = None,
             max_complexity: int = _D["max_complexity"], beam_width: int = _D["beam_width"],
             precision_goal: float = _D["precision_goal"], use_trig: bool = _D["use_trig"],
             use_kiv: bool = _D["use_kiv"], complexity_penalty: float = _D["complexity_penalty"],
             time_limit: float | None = None,
             progress: bool | Callable[[int, Formula], object] | None = None) -> Formula:
    """Find a formula y ≈ f(X) by the beam search of ``kiv_core.find_formula``.

    Parameters
    ----------
    X : array_like or pandas.DataFrame
        (n_samples, n_features) as in scikit-learn, or 1-D for one feature: numpy arrays, nested lists,
        DataFrames. Only numeric and boolean columns are data (a datetime, timedelta, categorical or
        object column is refused with its name). A DataFrame whose column names are strings is read by
        name: its columns are the features, named as they are (any strings); one with other labels
        (``pd.DataFrame(array)``) is read by position, as an array.
    y : array_like or pandas.Series
        (n_samples,) targets.
    feature_names : sequence of str, optional
        The features' names, shown in the formula. Default: a DataFrame's column names, else
        ``x0, x1, ...``. With a DataFrame read by name, they pick its columns by name, in this order, so
        that the formula evaluates the frame as it was trained on it; a name that is not a column is an
        error.
    max_complexity : int, optional
        Largest formula, in tokens (at least 1).
    beam_width : int, optional
        Candidates considered per level; the best ``beam_width // 4`` of each level are built on (so at
        least 4).
    precision_goal : float, optional
        The search stops once a formula's score is at most ``precision_goal * rms(y)``, with
        ``rms(y) = sqrt(mean(y**2))`` (the goal is absolute when every y is 0); so y and ``1e-12 * y`` stop
        alike. rms(y) is computed as ``m * sqrt(sum((y[i] / m)**2) / n)`` with ``m = max|y[i]|`` and the
        sum taken in row order from 0.0, which keeps it finite for any finite y. A goal of 0 or below never
        stops the search early. With the other settings equal, the formula is the one of
        ``kiv_core.find_formula(columns, y, precision_goal=precision_goal * rms(y))``.
    use_trig, use_kiv : bool, optional
        Whether sin and cos, and the kiv operator, are offered.
    complexity_penalty : float, optional
        A formula's score is ``rmse * (1 + complexity_penalty * tokens)`` (finite, at least 0).
    time_limit : float, optional
        Seconds; when reached, the best formula over the levels finished so far is returned, marked
        ``stopped_early`` and announced by a :class:`SearchStoppedWarning`.
    progress : bool or callable, optional
        True shows a bar per level (tqdm when installed, else lines on stderr); a callable receives
        ``(level, best Formula so far)`` after the seeds (level 0) and after each level.

    Returns
    -------
    Formula
        The best formula, with ``score`` (what the search ranked by; also ``error``), ``rmse`` (on the
        training rows, without the penalty) and ``r2`` (``1 - (rmse / sd(y))**2``, sd the root mean square
        of ``y - mean(y)``; for a constant y, 1 for an exact fit, else 0).

    Raises
    ------
    ValueError, TypeError
        Naming the argument, for malformed data or settings.
    KeyboardInterrupt
        On Ctrl-C: the search runs without the interpreter lock and stops within milliseconds.
    """
    settings = _settings(max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty,
                         time_limit)
    arr, target, names = training_data(X, y, feature_names)

    def formula(tokens: tuple[tuple[int, int, float], ...], score: float, rmse: float, r2: float,
                stopped: bool = False) -> Formula:
        return Formula(tokens, names, error=score, score=score, rmse=rmse, r2=r2, stopped_early=stopped,
                       settings=settings._asdict())

    bar = None
    user: Callable[[int, Formula], object] | None
    if progress is True:
        bar = _Bar(max(1, min(settings.max_complexity, 1 << 20)))
        user = bar
    elif progress is None or progress is False:
        user = None
    elif callable(progress):
        user = progress
    else:
        raise TypeError(f"progress: expected None, a bool or a callable, got {type(progress).__name__}")
    callback = None
    if user is not None:
        report = user

        def callback(level: int, tokens: tuple[tuple[int, int, float], ...], score: float, rmse: float,
                     r2: float) -> None:
            report(level, formula(tokens, score, rmse, r2))

    try:
        found = _native._discover(arr, target, **settings._asdict(), progress=callback)
    finally:
        if bar is not None:
            bar.close()
    if found is None:
        # The seeds include the constants, which have a value on every row.
        raise RuntimeError("internal failure in kiv: the search returned no formula")
    tokens, score, rmse, r2, stopped, levels = found
    result = formula(tokens, score, rmse, r2, stopped != 0)
    if stopped:
        warnings.warn(f"kiv.discover: time limit of {settings.time_limit} s reached after {levels} full "
                      f"level(s); returning the best formula found so far", SearchStoppedWarning, stacklevel=2)
    return result
