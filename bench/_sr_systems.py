"""The systems the symbolic-regression benchmarks measure, each behind one fit function, and the scoring.

A system is fit(X, y, names, budget, threads, seed) -> Fit: the formula as text, its length as the system
itself counts it, a predict function, and whether a time limit cut the search short. Systems:

- kiv: kiv.discover with its default settings (no time limit of its own; `cap` seconds as a safety net,
  which a run that hits it reports as stopped early).
- kiv-wide: max_complexity=12, beam_width=8000, time_limit=budget.
- kiv-scale, kiv-fit: constants="scale" / "fit" with the other settings at their defaults and
  time_limit=budget; offered only when the installed kiv.discover takes `constants=` (read from its
  signature), so one script measures before and after.
- custom kiv settings: `name:key=value,key=value` (values are Python literals; time_limit defaults to the
  budget; the literal `budget` stands for it).
- operon: pyoperon's SymbolicRegressor(optimizer_iterations=10, max_time=budget, n_threads=threads) with the
  operators kiv's search also has (add, sub, mul, div, exp, log, sqrt, sin, cos) and fitted constants; other
  settings at their defaults (population 1000, max_length 50). A benchmark peer only: kiv never imports it.

Lengths: kiv counts tokens of its postfix formula (a constant, a variable and an operator are one token
each); pyoperon counts tree nodes, where a variable node carries its own weight (so w·x is one node) and
the final scale and offset are two nodes each. `sympy_nodes` gives one measure for both: the nodes of the
formula as SymPy builds it (its automatic simplification applied).
"""

import dataclasses
import inspect
import math
import os
import time
import warnings

import numpy as np

OPERON_SYMBOLS = "add,sub,mul,div,exp,log,sqrt,sin,cos,constant,variable"


@dataclasses.dataclass
class Fit:
    text: str
    length: int | None
    predict: object
    stopped_early: bool = False
    sympy: object = None        # a callable giving the formula as a SymPy expression, or None
    extra: dict = dataclasses.field(default_factory=dict)
    # kiv's Pareto front: (complexity, training rmse, text, predict) per member, for the model-selection table
    front: list = dataclasses.field(default_factory=list)


def set_threads(threads):
    """kiv's worker pool reads RAYON_NUM_THREADS when it is first used: call this before importing kiv."""
    os.environ["RAYON_NUM_THREADS"] = str(threads)


def kiv_accepts_constants():
    import kiv

    return "constants" in inspect.signature(kiv.discover).parameters


def kiv_fit(settings):
    """A fit function running kiv.discover with `settings`; the string "budget" stands for the budget."""

    def fit(X, y, names, budget, threads, seed):
        import kiv

        s = {k: (budget if v == "budget" else v) for k, v in settings.items()}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", kiv.SearchStoppedWarning)
            f = kiv.discover(X, y, feature_names=list(names), **s)
        if f is None:
            return Fit("(none)", None, lambda Z: np.full(len(Z), np.nan))
        extra = {}
        for attr in ("error", "rmse", "score", "r2"):  # whichever the installed Formula has
            v = getattr(f, attr, None)
            if isinstance(v, (int, float)):
                extra[attr] = float(v)
        front = [(g.complexity, g.rmse, g.text, g.evaluate) for g in getattr(f, "front", None) or ()]
        return Fit(f.text, f.complexity, f.evaluate, f.stopped_early, f.to_sympy, extra, front)

    return fit


def operon_fit(max_length=None, symbols=OPERON_SYMBOLS):
    def fit(X, y, names, budget, threads, seed):
        from pyoperon.sklearn import SymbolicRegressor

        kw = dict(allowed_symbols=symbols, optimizer_iterations=10, max_time=max(1, math.ceil(budget)),
                  n_threads=threads, random_state=seed)
        if max_length is not None:
            kw["max_length"] = max_length
        reg = SymbolicRegressor(**kw)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            reg.fit(X, y)
        text = reg.get_model_string(reg.model_, 6, names=list(names))

        def sym():
            return _parse_sympy(text, names)

        extra = {k: reg.stats_[k] for k in ("generations", "evaluation_count", "model_complexity")
                 if k in reg.stats_}
        return Fit(text, int(reg.stats_["model_length"]), reg.predict, False, sym, extra)

    return fit


def _parse_sympy(text, names):
    import sympy
    from sympy.parsing.sympy_parser import parse_expr

    local = {n: sympy.Symbol(n, real=True) for n in names}
    local.update(exp=sympy.exp, log=sympy.log, sqrt=sympy.sqrt, sin=sympy.sin, cos=sympy.cos)
    return parse_expr(text.replace("^", "**"), local_dict=local)


def sympy_nodes(fit):
    """The number of nodes of the formula as SymPy builds it, or None when it cannot be built."""
    if fit.sympy is None:
        return None
    try:
        import sympy

        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return sum(1 for _ in sympy.preorder_traversal(fit.sympy()))
    except Exception:  # an export the installed SymPy cannot build is a missing figure, not a failed run
        return None


BUILTIN_KIV = {
    "kiv": {},                                                    # defaults; the cap is added by the runner
    "kiv-wide": {"max_complexity": 12, "beam_width": 8000, "time_limit": "budget"},
    # With fitted constants, the settings of kiv-wide: under the time limit the search runs the defaults
    # first and widens towards these while time is left.
    "kiv-scale": {"constants": "scale", "max_complexity": 12, "beam_width": 8000, "time_limit": "budget"},
    "kiv-fit": {"constants": "fit", "max_complexity": 12, "beam_width": 8000, "time_limit": "budget"},
}
NEEDS_CONSTANTS = ("kiv-scale", "kiv-fit")


def parse_custom(text):
    """`name:key=value,key=value` -> (name, settings); values are Python literals or `budget`."""
    import ast

    name, _, body = text.partition(":")
    settings = {}
    for item in filter(None, (s.strip() for s in body.split(","))):
        key, _, value = item.partition("=")
        value = value.strip()
        settings[key.strip()] = "budget" if value == "budget" else ast.literal_eval(value)
    settings.setdefault("time_limit", "budget")
    return name.strip(), settings


def r2(y, p):
    """R² of predictions p for y; -inf when a prediction is missing or not finite."""
    p = np.asarray(p, dtype=np.float64).reshape(-1)
    if p.shape != y.shape or not np.all(np.isfinite(p)):
        return -math.inf
    with np.errstate(all="ignore"):
        ss_res = float(np.sum((y - p) ** 2))
        ss_tot = float(np.sum((y - np.mean(y)) ** 2))
    if not math.isfinite(ss_res):
        return -math.inf
    return 1.0 - ss_res / ss_tot if ss_tot > 0 else (1.0 if ss_res == 0 else -math.inf)


def timed(fn, *args):
    """(result, wall seconds, process CPU seconds) — CPU time counts every thread of the process."""
    w, c = time.perf_counter(), time.process_time()
    out = fn(*args)
    return out, time.perf_counter() - w, time.process_time() - c
