"""Straightforward Python forms of the guarded primitives and the formulas built on them, in the stated order
of operations, used to check the native results bit for bit."""

import math

EXP_OVERFLOW = 709.782712893384
LOG_FLOOR = 1e-300
LN_LOG_FLOOR = -690.7755278982137


def guarded_exp(x):
    if x > EXP_OVERFLOW:
        x = math.log(x)
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def guarded_ln(y):
    if y <= 0.0:
        y = abs(y)
    if y == 0.0:
        return LN_LOG_FLOOR
    if math.isnan(y):
        return y
    return math.log(y)


def kiv(x, y):
    return guarded_exp(x) - guarded_ln(y)


def floored_ln(y):
    if y > 0.0 or math.isnan(y):
        return math.log(y)
    return math.log(max(abs(y), LOG_FLOOR))


def bounded_exp(s):
    """exp of s clamped to [-709, 709]; a NaN passes both clamps."""
    if math.isnan(s):
        return s
    return math.exp(min(709.0, max(-709.0, s)))


def safe_abs(y):
    return LOG_FLOOR if y == 0 else abs(y)


def mirror_pulse(x, y):
    m = safe_abs(y)
    return m, guarded_exp(x) - math.log(m)


def frame_shift(x, y):
    m = LOG_FLOOR if math.isnan(y) else max(abs(y), LOG_FLOOR)
    return m, guarded_exp(x) - math.log(m)


def boost(x, y, phi, c):
    t, s = guarded_exp(x), floored_ln(y)
    sh, ch = math.sinh(phi), math.cosh(phi)
    t2 = t * ch - (s / c) * sh
    s2 = ch * s - (c * t) * sh
    return math.log(t2 if t2 > LOG_FLOOR else LOG_FLOOR), bounded_exp(s2)


def safe_div(a, b):
    if abs(b) < LOG_FLOOR:
        return math.nan
    return a / b


def abs_pow(b, e):
    try:
        return math.pow(abs(b), e)
    except (OverflowError, ValueError):  # C pow gives +inf for overflow and for 0 to a negative power
        return math.inf


def _nan_safe(f):
    def g(*args):
        if any(math.isnan(a) for a in args):
            return math.nan
        return f(*args)

    return g


def _sincos(f):
    """The C library's form of f: NaN for an infinite argument where math raises."""

    def g(x):
        if math.isinf(x) or math.isnan(x):
            return math.nan
        return f(x)

    return g


c_sin = _sincos(math.sin)
c_cos = _sincos(math.cos)


def rotate(re, im, a):
    s, k = c_sin(a), c_cos(a)
    return k * re - s * im, k * im + s * re


def christoffel(x, lam, mu, nu, rs):
    if x > 709.78:
        x = math.log(x)
    try:
        r = math.exp(x)
    except OverflowError:
        r = math.inf
    floor = rs + 1e-9
    f = floor if math.isnan(r) else r if math.isnan(floor) else max(r, floor)
    if f <= 0.0 or rs >= f:
        return 0.0
    if lam == 0 and (mu, nu) in ((0, 1), (1, 0)):
        return rs / ((f - rs) * (f + f))
    if (lam, mu, nu) == (1, 0, 0):
        return ((1.0 - rs / f) * rs) / ((f + f) * f)
    if (lam, mu, nu) == (1, 1, 1):
        return (-rs) / ((f - rs) * (f + f))
    return 0.0


UNARY = {
    "exp_n": guarded_exp,
    "ln_n": guarded_ln,
    "sqrt_n": lambda x: math.sqrt(abs(x)),
    "sin_n": c_sin,
    "cos_n": c_cos,
}

BINARY = {
    "add_n": lambda a, b: a + b,
    "sub_n": lambda a, b: a - b,
    "mul_n": lambda a, b: a * b,
    "div_n": safe_div,
    "pow_n": abs_pow,
    "tension_n": _nan_safe(kiv),
}


def same(a, b):
    """Bitwise-equal floats, treating every NaN as equal to every NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)


def same_seq(a, b):
    """Sequences of the same length whose floats are pairwise `same`."""
    return len(a) == len(b) and all(same(p, q) for p, q in zip(a, b))


def fixed6(v):
    """A float in the reprs' fixed notation with six decimals."""
    return "NaN" if math.isnan(v) else "%.6f" % v
