"""Helpers for the discovery tests: random formulas, a scalar reference evaluator, the core's answer."""

import math
import random
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))

import kiv_core  # noqa: E402

from kiv import Formula, _native  # noqa: E402
from kiv._ops import OPERATORS  # noqa: E402

FLOOR = 1e-300


def bits(v):
    return struct.pack("<d", v)


def same_array(a, b):
    return len(a) == len(b) and all(bits(float(p)) == bits(float(q)) for p, q in zip(a, b))


def _op(name, a, b):
    """One guarded operator on Python floats (math is the C library), None when it fails."""
    try:
        if name == "neg":
            r = -a
        elif name == "recip":
            if abs(a) < FLOOR:
                return None
            r = 1.0 / a
        elif name == "exp":
            r = math.exp(a)
        elif name == "ln":
            if a <= 0.0:
                return None
            r = math.log(a)
        elif name == "sqrt":
            if a < 0.0:
                return None
            r = math.sqrt(a)
        elif name == "sin":
            r = math.sin(a)
        elif name == "cos":
            r = math.cos(a)
        elif name == "abs":
            r = abs(a)
        elif name == "kiv":
            a1 = math.log(a) if a > 709.78 else a
            m = b if (b > 0 or math.isnan(b)) else max(abs(b), FLOOR)
            r = math.exp(a1) - math.log(m)
        elif name == "add":
            r = a + b
        elif name == "sub":
            r = a - b
        elif name == "mul":
            r = a * b
        elif name == "div":
            if abs(b) < FLOOR:
                return None
            r = a / b
        else:
            raise NotImplementedError(f"the reference evaluation lacks the operator {name!r}")
    except (OverflowError, ValueError):
        return None
    return r if math.isfinite(r) else None


def reference_eval(tokens, row):
    """Value of the postfix tokens at one row, NaN when evaluation fails (the documented evaluate rule)."""
    stack = []
    row = [float(v) for v in row]
    for kind, index, value in tokens:
        if kind in (0, 1):
            stack.append(value)
        elif kind == 2:
            stack.append(row[index])
        else:
            op = OPERATORS[index]
            b = stack.pop() if op.arity == 2 else 0.0
            a = stack.pop()
            r = _op(op.name, a, b)
            if r is None:
                return math.nan
            stack.append(r)
    return stack[0]


def random_tokens(rng, n_vars, size, unary=range(8)):
    """A well-formed random postfix formula of about `size` tokens over n_vars variables."""
    unary = list(unary)
    if size <= 1:
        choice = rng.random()
        if choice < 0.5:
            return [(2, rng.randrange(n_vars), 0.0)]
        return [(0, 0, rng.choice([0.0, 1.0, -0.0, 2.5, math.pi, math.e, 1e-301, 800.0, -3.0]))]
    if rng.random() < 0.4:
        return random_tokens(rng, n_vars, size - 1, unary) + [(3, rng.choice(unary), 0.0)]
    left = rng.randrange(1, size - 1) if size > 2 else 1
    return (random_tokens(rng, n_vars, left, unary) + random_tokens(rng, n_vars, max(1, size - 1 - left), unary)
            + [(3, rng.randrange(8, 13), 0.0)])


def core_formula(X, y, feature_names=None, **settings):
    """kiv_core.find_formula on the transposed columns, as a Formula."""
    columns = [[float(v) for v in X[:, j]] for j in range(X.shape[1])]
    r = kiv_core.find_formula(columns, [float(v) for v in y], **settings)
    return r, (None if r is None else Formula.from_result(r, feature_names))


def sequential_error(pred, y, complexity, penalty=0.001):
    """The search's score: squares summed in index order from -0.0, over len(y), penalised."""
    s = -0.0
    for p, t in zip(pred, y):
        d = float(p) - float(t)
        s = s + d * d
    return math.sqrt(s / len(y)) * (complexity * penalty + 1.0)


def rms_about(values, centre=0.0):
    """Root mean square of values - centre in the documented order: m * sqrt(sum(((v - centre) / m)**2) / n),
    m the largest |v - centre|, the sum in row order from 0.0."""
    values = [float(v) for v in values]
    m = max(abs(v - centre) for v in values)
    if m == 0.0:
        return 0.0
    s = 0.0
    for v in values:
        q = (v - centre) / m
        s = s + q * q
    return m * math.sqrt(s / len(values))


def mean_of(values):
    """m * (sum(v / m) / n), m the largest |v|, the sum in row order from 0.0."""
    values = [float(v) for v in values]
    m = max(abs(v) for v in values)
    if m == 0.0:
        return 0.0
    s = 0.0
    for v in values:
        s = s + v / m
    return m * (s / len(values))


def absolute_goal(goal, y):
    """The precision goal kiv.discover hands the core: relative to rms(y), absolute when that is 0."""
    scale = rms_about(y)
    return goal * scale if scale > 0.0 else goal


def r2_of(rmse, y):
    """1 - (rmse / sd)^2 with sd the root mean square of y - mean(y); for a constant y 1 or 0."""
    sd = rms_about(y, mean_of(y))
    if sd > 0.0:
        ratio = rmse / sd
        return 1.0 - ratio * ratio
    return 1.0 if rmse == 0.0 else 0.0


def rng_for(seed):
    return random.Random(seed)


def _libm(fn, fail):
    def one(v):
        try:
            return fn(float(v))
        except OverflowError:
            return math.inf
        except ValueError:
            return fail

    def vec(a):
        import numpy as np

        arr = np.asarray(a, dtype=float)
        return np.array([one(v) for v in arr.ravel()], dtype=float).reshape(arr.shape)

    return vec


# numpy's exp, log, sin and cos may differ from the C library's in the last bit; with these in their place,
# exported numpy code can be checked bit for bit against the native evaluation.
LIBM = {"exp": _libm(math.exp, math.nan), "log": _libm(math.log, math.nan), "sin": _libm(math.sin, math.nan),
        "cos": _libm(math.cos, math.nan)}


class LibmNumpy:
    """numpy, with the C library's exp, log, sin and cos."""

    def __getattr__(self, name):
        import numpy as np

        return LIBM.get(name) or getattr(np, name)


def rmse_as_the_search_sums(tokens, X, y):
    """Squared differences summed in row order from -0.0, as the search's score does."""
    total = -0.0
    for v, t in zip(_native._evaluate(tokens, X).tolist(), y.tolist()):
        total = total + (v - t) * (v - t)
    return math.sqrt(total / len(y))
