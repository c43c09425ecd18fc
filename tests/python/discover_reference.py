"""The formula search written out plainly in Python, step by step, to check find_formula bit for bit.

Slow (every level re-offers every pair), so only for small data and small settings.
"""

import math
import struct

LOG_FLOOR = 1e-300
PROBE_SCALES = (0.5772156649015328, 1.2824271291006226, 1.618033988749895, 0.6931471805599453,
                1.2020569031595942)
UNARY = ("neg", "recip", "exp", "ln", "sqrt", "sin", "cos")
BINARY = ("add", "sub", "mul", "div", "kiv")
ORDERED = ("kiv", "sub", "div")


def _exp(a):
    try:
        return math.exp(a)
    except OverflowError:
        return math.inf


def _floored_ln(y):
    if y > 0.0 or math.isnan(y):
        return math.log(y) if not math.isnan(y) else y
    return math.log(max(abs(y), LOG_FLOOR))


def apply(op, a, b=None):
    """One operator with its guard and the result check; None when it fails."""
    try:
        if op == "neg":
            r = -a
        elif op == "recip":
            if abs(a) < LOG_FLOOR:
                return None
            r = 1.0 / a
        elif op == "exp":
            r = _exp(a)
        elif op == "ln":
            if a <= 0.0:
                return None
            r = math.log(a) if not math.isnan(a) else a
        elif op == "sqrt":
            if a < 0.0:
                return None
            r = math.sqrt(a) if not math.isnan(a) else a
        elif op == "sin":
            r = math.sin(a)
        elif op == "cos":
            r = math.cos(a)
        elif op == "kiv":
            x = math.log(a) if a > 709.78 else a
            r = _exp(x) - _floored_ln(b)
        elif op == "add":
            r = a + b
        elif op == "sub":
            r = a - b
        elif op == "mul":
            r = a * b
        elif op == "div":
            if abs(b) < LOG_FLOOR:
                return None
            r = a / b
    except ValueError:  # math.sin(inf) and friends: a NaN result
        return None
    return r if math.isfinite(r) else None


def evaluate(expr, point):
    """expr is a tuple of tokens: ("c", value), ("v", index) or ("o", name)."""
    stack = []
    for kind, val in expr:
        if kind == "c":
            stack.append(val)
        elif kind == "v":
            if val >= len(point):
                return None
            stack.append(point[val])
        else:
            if val in UNARY:
                if not stack:
                    return None
                r = apply(val, stack.pop())
            else:
                if len(stack) < 2:
                    return None
                b = stack.pop()
                r = apply(val, stack.pop(), b)
            if r is None:
                return None
            stack.append(r)
    return stack[0] if len(stack) == 1 else None


def fixed4(v):
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return f"{v:.4f}"


TEXT = {"neg": "(-{})", "recip": "(1/{})", "exp": "exp({})", "ln": "ln({})", "sqrt": "sqrt({})",
        "sin": "sin({})", "cos": "cos({})", "kiv": "kiv({}, {})", "add": "({} + {})", "sub": "({} - {})",
        "mul": "({} * {})", "div": "({} / {})"}


def render(expr):
    stack = []
    for kind, val in expr:
        if kind == "c":
            stack.append("π" if val == 3.141592653589793 else "e" if val == 2.718281828459045 else fixed4(val))
        elif kind == "v":
            stack.append(chr((120 + val) % 256))
        elif val in UNARY:
            stack.append(TEXT[val].format(stack.pop()))
        else:
            b = stack.pop()
            stack.append(TEXT[val].format(stack.pop(), b))
    return stack[-1]


def fingerprint(expr, n):
    bits = []
    for scale in PROBE_SCALES:
        v = evaluate(expr, [(i + 1) * scale for i in range(n)])
        if v is None or not math.isfinite(v):
            return None
        bits.append(struct.unpack("<Q", struct.pack("<d", v))[0])
    return tuple(bits)


def fit(expr, cols, y, penalty):
    rows = len(cols[0])
    pred = []
    for r in range(rows):
        v = evaluate(expr, [c[r] for c in cols])
        if v is None:
            return None
        pred.append(v)
    s = -0.0
    for p, t in zip(pred, y):
        s = s + (p - t) * (p - t)
    rmse = math.sqrt(s / len(y)) if y else math.nan
    return rmse * (len(expr) * penalty + 1.0)


def find_formula(cols, y, max_complexity=8, beam_width=2000, precision_goal=1e-10, use_trig=True,
                 use_kiv=True, complexity_penalty=0.001):
    """(formula, complexity, error) of the best result, or None. cols must have at least one column, all
    at least as long as the first."""
    n = len(cols)
    unary = [u for u in UNARY if use_trig or u not in ("sin", "cos")]
    binary = [b for b in BINARY if use_kiv or b != "kiv"]
    seen = set()
    best = None

    def admit(expr, into):
        fp = fingerprint(expr, n)
        if fp is not None and fp not in seen:
            seen.add(fp)
            into.append(expr)

    def fit_all(cands):
        nonlocal best
        results = []
        for e in cands:
            score = fit(e, cols, y, complexity_penalty)
            if score is not None:
                results.append((score, e))
                if best is None or best[0] > score:
                    best = (score, e)
        return results

    def done():
        return best is not None and best[0] <= precision_goal

    def answer():
        return None if best is None else (render(best[1]), len(best[1]), best[0])

    seeds = []
    for e in [(("c", 0.0),), (("c", 1.0),)] + [(("v", k),) for k in range(n)]:
        admit(e, seeds)
    fit_all(seeds)
    if done():
        return answer()
    beam = list(seeds)
    for _level in range(1, max_complexity):
        cands = []
        for e in beam:
            for u in unary:
                admit(e + (("o", u),), cands)
        for i in range(len(beam)):
            for j in range(i + 1):
                a, b = beam[i], beam[j]
                if not len(a) + len(b) < max_complexity:
                    continue
                for o in binary:
                    admit(a + b + (("o", o),), cands)
                    if o in ORDERED:
                        admit(b + a + (("o", o),), cands)
        if not cands:
            break
        results = fit_all(cands)
        if done():
            return answer()
        results.sort(key=lambda r: (math.isnan(r[0]), 0.0 if math.isnan(r[0]) else r[0]))
        beam.extend(e for _, e in results[: beam_width // 4])
    return answer()
