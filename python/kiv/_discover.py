"""kiv.discover: the formula search for data in the scikit-learn layout, interruptible and with progress."""

from __future__ import annotations

import math
import sys
import time
import warnings
from collections.abc import Callable, Sequence
from typing import Any, Literal, NamedTuple, TypeAlias

import numpy as np
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
    constants: str | None


#: The values of discover's ``constants=`` setting.
Constants: TypeAlias = Literal["scale", "fit"] | None
CONSTANTS: tuple[Constants, ...] = (None, "scale", "fit")


def _constants(value: object) -> str | None:
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError(f"constants: expected None, 'scale' or 'fit', got {type(value).__name__}")
    if value not in CONSTANTS:
        raise ValueError(f"constants: expected None, 'scale' or 'fit', got {value!r}")
    return str(value)


def _settings(max_complexity: object, beam_width: object, precision_goal: object, use_trig: object,
              use_kiv: object, complexity_penalty: object, time_limit: object,
              constants: object = None) -> _Settings:
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
        constants=_constants(constants),
    )


Token = tuple[int, int, float]


class _Entry(NamedTuple):
    """One formula a search reported, with the core's measures of it on the training rows."""

    tokens: tuple[Token, ...]
    score: float
    rmse: float
    r2: float


class _Pass(NamedTuple):
    """What one run of the native search gave."""

    beam_width: int
    max_complexity: int
    best: _Entry
    front: tuple[_Entry, ...]
    stopped: bool
    levels: int


def _rms(v: np.ndarray[Any, np.dtype[np.float64]]) -> float:
    """sqrt(mean(v**2)) as the native search computes it, bit for bit: m * sqrt(sum((v[i] / m)**2) / n) with
    m = max|v[i]| and the sum in index order (numpy's cumulative sum is sequential)."""
    m = float(np.max(np.abs(v)))
    if m == 0.0:
        return 0.0
    q = v / m
    return m * math.sqrt(float(np.cumsum(q * q)[-1]) / len(v))


def _passes(settings: _Settings) -> list[tuple[int, int]]:
    """(beam_width, max_complexity) of each pass of a search: one pass with the given settings; under a time
    limit, a first pass with the defaults (or the given settings where they are smaller), then passes that
    double the beam and raise the complexity in step, up to the given settings."""
    beam, depth = settings.beam_width, settings.max_complexity
    if settings.time_limit is None:
        return [(beam, depth)]
    b0, c0 = min(beam, _D["beam_width"]), min(depth, _D["max_complexity"])
    doublings = 0
    while b0 << doublings < beam:
        doublings += 1
    steps = max(doublings, 1 if depth > c0 else 0)
    out = [(b0, c0)]
    for k in range(1, steps + 1):
        out.append((min(beam, b0 << k), c0 + (depth - c0) * k // steps))
    return out


def _pareto(entries: Sequence[_Entry]) -> list[_Entry]:
    """The best entry per token count (the first of equals), keeping those with a lower rmse than every
    shorter one, in ascending token count."""
    best: dict[int, _Entry] = {}
    for e in entries:
        k = len(e.tokens)
        if not math.isnan(e.rmse) and (k not in best or e.rmse < best[k].rmse):
            best[k] = e
    out: list[_Entry] = []
    for k in sorted(best):
        if not out or best[k].rmse < out[-1].rmse:
            out.append(best[k])
    return out


def _criterion(e: _Entry, rows: int, floor: float) -> float:
    """The information criterion that picks a formula from the front: rows * ln(max(rmse, floor)**2) plus 2
    per token (Akaike's, every token counted as a parameter; floor: the precision goal, so that every formula
    that meets it counts as exact). Akaike's rather than the Bayesian ln(rows) per token: on the laws both
    choose the same formulas at 1 % and 10 % noise, while on real data, where the law is no short formula,
    the Bayesian weight stops at formulas that predict held-out rows worse."""
    r = max(e.rmse, floor)
    fit = 2.0 * rows * math.log(r) if r > 0.0 else -math.inf
    return fit + 2.0 * len(e.tokens)


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
             progress: bool | Callable[[int, Formula], object] | None = None,
             constants: Constants = None) -> Formula:
    """Find a formula y ≈ f(X) by the beam search of ``kiv_core.find_formula``, with fitted constants if asked.

    The search builds formulas level by level from the features, constants, arithmetic, ``exp``, ``ln``,
    ``sqrt``, ``sin``, ``cos`` and the kiv operator, and keeps the best formula of each complexity: the
    returned formula's :attr:`~Formula.front` lists them.

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
        Seconds for the whole search, which then runs in passes (an anytime search): first with the
        default ``beam_width`` and ``max_complexity`` (the given ones where they are smaller), then with
        the beam doubled and the complexity raised in even steps per pass, up to the given settings, each
        pass started only while time is left and given what is left. The passes end early once one meets
        the precision goal, or once a pass lowers the rmse without lowering the information criterion
        below (what it still finds is fitted noise). The formula is chosen over everything the passes
        found (the lowest score with ``constants=None``, the criterion below otherwise), including the
        fully fitted formulas of a pass the limit cut short; the first pass is what the default settings
        find in the same time, so the result is never worse than theirs by that rule. When the limit cuts a
        pass or leaves one unrun, the formula is marked ``stopped_early`` and a
        :class:`SearchStoppedWarning` says where. Without a time limit the settings run as one pass.
    progress : bool or callable, optional
        True shows a bar per level (tqdm when installed, else lines on stderr); a callable receives
        ``(level, best Formula so far)`` after the seeds (level 0) and after each level, the levels of
        later passes counting on from those of earlier ones (a pass reports a formula only where it improves
        on the best reported).
    constants : {None, "scale", "fit"}, optional
        Which constants a formula may have.

        - None (default): those the search builds from 0 and 1, as ``kiv_core.find_formula`` (whose formula
          it returns, see ``precision_goal``). The returned formula has the lowest score.
        - ``"scale"``: each candidate f is fitted as ``a + b * f`` by least squares (linear scaling); the
          formula shows a and b where an information criterion says they matter.
        - ``"fit"``: free constants inside the formula as well, fitted to the rows for each promising
          candidate.

        In the two modes with fitted constants the formula is chosen from the front by an information
        criterion: ``n * ln(max(rmse, g)**2) + 2 * k`` for n rows and k tokens (Akaike's), with g the precision
        goal (``precision_goal * rms(y)``, at least ``2**-52 * rms(y)``); the lowest wins, the simpler of
        equals. A longer formula must lower the squared error by a factor ``exp(2/n)`` per token (0.4 % for
        500 rows) to be chosen: fitted noise rarely does, a real gain on exact data always; every formula
        that meets the goal counts as exact, so an exact law comes back as the shortest exact formula.

    Returns
    -------
    Formula
        The chosen formula, with ``score`` (what the search ranked by; also ``error``), ``rmse`` (on the
        training rows, without the penalty) and ``r2`` (``1 - (rmse / sd(y))**2``, sd the root mean square
        of ``y - mean(y)``; for a constant y, 1 for an exact fit, else 0), and ``front``, the best formula
        per complexity over the whole search (those with a lower rmse than every simpler one), each with
        the same three measures; printed, a table.

    Raises
    ------
    ValueError, TypeError
        Naming the argument, for malformed data or settings.
    KeyboardInterrupt
        On Ctrl-C: the search runs without the interpreter lock and stops within milliseconds.
    """
    settings = _settings(max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty,
                         time_limit, constants)
    arr, target, names = training_data(X, y, feature_names)
    plan = _passes(settings)

    def formula(e: _Entry, stopped: bool = False, front: Sequence[_Entry] | None = None) -> Formula:
        members = None if front is None else [formula(m) for m in front]
        return Formula(e.tokens, names, error=e.score, score=e.score, rmse=e.rmse, r2=e.r2, stopped_early=stopped,
                       settings=settings._asdict(), front=members)

    bar = None
    user: Callable[[int, Formula], object] | None
    if progress is True:
        bar = _Bar(max(1, min(sum(c for _, c in plan), 1 << 20)))
        user = bar
    elif progress is None or progress is False:
        user = None
    elif callable(progress):
        user = progress
    else:
        raise TypeError(f"progress: expected None, a bool or a callable, got {type(progress).__name__}")

    scale = _rms(target)
    goal = settings.precision_goal * scale if scale > 0.0 else settings.precision_goal
    floor = max(goal, scale * 2.0**-52)
    rows = len(target)
    passes: list[_Pass] = []
    # The best the callback has seen: a later pass reports only what improves on it.
    shown: list[_Entry] = []
    cut = False
    start = time.monotonic()
    try:
        for beam, depth in plan:
            left = None
            if settings.time_limit is not None:
                left = settings.time_limit - (time.monotonic() - start)
                if passes and left <= 0.0:
                    cut = True
                    break
            callback = None
            if user is not None:
                report, offset = user, sum(p.max_complexity for p in passes)

                def callback(level: int, tokens: tuple[Token, ...], score: float, rmse: float, r2: float) -> None:
                    e = _Entry(tokens, score, rmse, r2)
                    if shown and not e.score < shown[-1].score:
                        e = shown[-1]
                    else:
                        shown.append(e)
                    report(offset + level, formula(e))

            passes.append(_run(arr, target, settings, beam, depth, left, callback))
            if passes[-1].stopped:
                cut = True
                break
            # A wider pass is not needed once the goal is met, nor once widening has stopped paying.
            if passes[-1].best.score <= goal or (len(passes) > 1 and _noise_only(passes, rows, floor)):
                break
    finally:
        if bar is not None:
            bar.close()

    front = _pareto([e for p in passes for e in (*p.front, p.best)])
    if settings.constants is None:
        # find_formula's rule: the lowest score; of equals (exact fits, score 0) the shortest, as the front
        # keeps it, then the first pass's.
        chosen = min((p.best for p in passes), key=lambda e: (e.score, len(e.tokens)))
    else:
        chosen = min(front, key=lambda e: _criterion(e, rows, floor))
    last = passes[-1]
    result = formula(chosen, cut, front)
    if cut:
        if len(plan) == 1:
            where = f"after {last.levels} full level(s)"
        elif last.stopped:
            where = (f"after {last.levels} full level(s) of pass {len(passes)} of {len(plan)} "
                     f"(beam_width={last.beam_width}, max_complexity={last.max_complexity})")
        else:
            where = f"before pass {len(passes) + 1} of {len(plan)}"
        warnings.warn(f"kiv.discover: time limit of {settings.time_limit} s reached {where}; returning the best "
                      f"formula found so far", SearchStoppedWarning, stacklevel=2)
    return result


def _noise_only(passes: Sequence[_Pass], rows: int, floor: float) -> bool:
    """Whether the last pass lowered the rmse without lowering the information criterion: a sign that what a
    wider search still finds is fitted noise. (A pass that finds nothing better says nothing about noise.)"""
    def least(group: Sequence[_Pass], measure: Callable[[_Entry], float]) -> float:
        return min(measure(e) for p in group for e in (*p.front, p.best))

    def criterion(e: _Entry) -> float:
        return _criterion(e, rows, floor)

    def rmse(e: _Entry) -> float:
        return max(e.rmse, floor)

    new, old = passes[-1:], passes[:-1]
    return least(new, rmse) < least(old, rmse) and not least(new, criterion) < least(old, criterion)


def _run(X: np.ndarray[Any, np.dtype[np.float64]], y: np.ndarray[Any, np.dtype[np.float64]], settings: _Settings,
         beam: int, depth: int, time_limit: float | None, callback: Callable[..., None] | None) -> _Pass:
    """One run of the native search with these beam width, complexity and time limit."""
    kwargs: dict[str, Any] = settings._asdict()
    kwargs.update(beam_width=beam, max_complexity=depth, time_limit=time_limit)
    if kwargs["constants"] is None:
        del kwargs["constants"]
    found = _native._discover(X, y, **kwargs, progress=callback)
    if found is None:
        # The seeds include the constants, which have a value on every row.
        raise RuntimeError("internal failure in kiv: the search returned no formula")
    tokens, score, rmse, r2, stopped, levels = found[:6]
    best = _Entry(tokens, score, rmse, r2)
    front = tuple(_Entry(*m[:4]) for m in found[6]) if len(found) > 6 else (best,)
    return _Pass(beam, depth, best, front, stopped != 0, levels)
