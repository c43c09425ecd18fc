"""kiv.discover: the formula search for data in the scikit-learn layout, interruptible and with progress."""

import math
import sys
import warnings

from kiv import _native
from kiv._validate import count, flag, real, training_data
from kiv.formula import Formula

__all__ = ["discover", "SearchStoppedWarning"]


class SearchStoppedWarning(RuntimeWarning):
    """The search was cut short by its time limit; the formula is the best found until then."""


def _settings(max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty, time_limit):
    s = {
        "max_complexity": count(max_complexity, "max_complexity"),
        "beam_width": count(beam_width, "beam_width"),
        "precision_goal": real(precision_goal, "precision_goal"),
        "use_trig": flag(use_trig, "use_trig"),
        "use_kiv": flag(use_kiv, "use_kiv"),
        "complexity_penalty": real(complexity_penalty, "complexity_penalty"),
        "time_limit": None,
    }
    if time_limit is not None:
        t = real(time_limit, "time_limit")
        if not t > 0:
            raise ValueError(f"time_limit: expected a positive number of seconds, got {time_limit!r}")
        s["time_limit"] = t if math.isfinite(t) else None
    return s


class _Bar:
    """Per-level progress on a tqdm bar, or as lines on stderr when tqdm is not installed."""

    def __init__(self, levels):
        try:
            from tqdm.auto import tqdm
        except ImportError:
            self.bar = None
        else:
            self.bar = tqdm(total=levels, desc="kiv.discover", unit="level")

    def __call__(self, level, formula):
        text = f"error={formula.error:.3g} {formula.text}"
        if self.bar is None:
            print(f"kiv.discover: level {level}: {text}", file=sys.stderr)
        else:
            self.bar.update(level + 1 - self.bar.n)
            self.bar.set_postfix_str(text, refresh=False)

    def close(self):
        if self.bar is not None:
            self.bar.close()


def discover(X, y, *, feature_names=None, max_complexity=8, beam_width=2000, precision_goal=1e-10, use_trig=True,
             use_kiv=True, complexity_penalty=0.001, time_limit=None, progress=None):
    """Finds a formula y ≈ f(X) by the beam search of ``kiv_core.find_formula`` (same settings, same result).

    X is (n_samples, n_features) as in scikit-learn, or 1-D for one feature; numpy arrays, nested lists and
    pandas DataFrames (whose column names become the feature names) are accepted. feature_names default to
    x, y, z for up to three features and x0, x1, ... beyond. The search runs without the interpreter lock;
    Ctrl-C stops it with KeyboardInterrupt. time_limit (seconds) returns the best formula found so far,
    marked ``stopped_early`` and announced by a SearchStoppedWarning. progress=True shows a bar per level
    (tqdm when installed); a callable receives (level, best Formula so far) after the seeds (level 0) and
    after each level.

    Returns a :class:`kiv.Formula`. Raises ValueError, naming the argument, for malformed data.
    """
    settings = _settings(max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty,
                         time_limit)
    arr, target, names = training_data(X, y, feature_names)

    bar = None
    callback = None
    if progress is True:
        bar = _Bar(max(1, min(settings["max_complexity"], 1 << 20)))
        user = bar
    elif progress is None or progress is False:
        user = None
    elif callable(progress):
        user = progress
    else:
        raise TypeError(f"progress: expected None, a bool or a callable, got {type(progress).__name__}")
    if user is not None:
        def callback(level, tokens, error):
            user(level, Formula(tokens, names, error=error, settings=settings))

    try:
        found = _native._discover(arr, target, settings["max_complexity"], settings["beam_width"],
                                  settings["precision_goal"], settings["complexity_penalty"], settings["use_trig"],
                                  settings["use_kiv"], settings["time_limit"], callback)
    finally:
        if bar is not None:
            bar.close()
    if found is None:
        return None
    tokens, error, stopped, levels = found
    formula = Formula(tokens, names, error=error, stopped_early=stopped != 0, settings=settings)
    if stopped:
        warnings.warn(f"kiv.discover: time limit of {settings['time_limit']} s reached after {levels} full "
                      f"level(s); returning the best formula found so far", SearchStoppedWarning, stacklevel=2)
    return formula
