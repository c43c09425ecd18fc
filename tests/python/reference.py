"""Straightforward Python forms of the guarded primitives, used to check the native results bit for bit."""

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
    def g(x):
        if math.isinf(x) or math.isnan(x):
            return math.nan
        return f(x)

    return g


UNARY = {
    "exp_n": guarded_exp,
    "ln_n": guarded_ln,
    "sqrt_n": lambda x: math.sqrt(abs(x)),
    "sin_n": _sincos(math.sin),
    "cos_n": _sincos(math.cos),
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
