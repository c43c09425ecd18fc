"""Per-call cost of the value classes against their plain-Python baselines, measured in one process.

Rows: `p * q` for KIVPair against Python's complex multiplication, `KIVPoint(x, y).tension()` against
the same guarded formula written with math, and a three-pulse `simulate_pulses_n` against the same
trajectory built in Python. Prints best-of-N nanoseconds per call and the ratio
to the baseline of each pair of rows, with the target each ratio should meet. The two statements of a
pair are timed in alternation, so that a busy machine slows both alike.
"""

import math
import timeit

from kiv_core import KIVPair, KIVPoint, simulate_pulses_n

NUMBER = 50_000
REPEAT = 40

EXP_OVERFLOW = 709.782712893384
LN_LOG_FLOOR = -690.7755278982137


def py_tension(x, y):
    """kiv(x, y) with the same guards as the module: exp of ln x past the overflow limit, ln|y| with a floor at 0."""
    e = math.exp(math.log(x) if x > EXP_OVERFLOW else x)
    return e - (LN_LOG_FLOOR if y == 0 else math.log(abs(y)))


def py_pulses(x, y, n):
    """The trajectory of n mirror pulses with each point's tension, as simulate_pulses_n returns it."""
    out = [(x, y, py_tension(x, y))]
    for _ in range(n):
        m = 1e-300 if y == 0 else abs(y)
        x, y = m, py_tension(x, y)
        out.append((x, y, py_tension(x, y)))
    return out


def best_pair(base_stmt, stmt, env):
    """Best nanoseconds per call of both statements, timed in alternating rounds."""
    timers = [timeit.Timer(base_stmt, globals=env), timeit.Timer(stmt, globals=env)]
    best = [math.inf, math.inf]
    for _ in range(REPEAT):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(NUMBER))
    return [b / NUMBER * 1e9 for b in best]


def main():
    env = {
        "KIVPair": KIVPair,
        "KIVPoint": KIVPoint,
        "py_tension": py_tension,
        "py_pulses": py_pulses,
        "simulate_pulses_n": simulate_pulses_n,
        "p": KIVPair(1.25, -0.5),
        "q": KIVPair(0.75, 2.0),
        "a": complex(1.25, -0.5),
        "b": complex(0.75, 2.0),
        "x": 0.5,
        "y": 3.0,
    }
    assert KIVPoint(0.5, 3.0).tension() == py_tension(0.5, 3.0)
    assert simulate_pulses_n(0.5, 3.0, 3) == py_pulses(0.5, 3.0, 3)
    groups = [
        ("pair multiplication", "a * b", "p * q", "<= 1.5x complex", lambda r: r <= 1.5),
        ("point tension", "py_tension(x, y)", "KIVPoint(x, y).tension()", "<= 0.5x Python", lambda r: r <= 0.5),
        ("short trajectory", "py_pulses(x, y, 3)", "simulate_pulses_n(x, y, 3)", "<= 0.5x Python", lambda r: r <= 0.5),
    ]
    print(f"best of {REPEAT} runs of {NUMBER:,} calls")
    print(f"{'case':22s} {'statement':28s} {'ns/call':>9s} {'ratio':>7s}  target")
    for name, base_stmt, stmt, target, ok in groups:
        base, t = best_pair(base_stmt, stmt, env)
        ratio = t / base
        print(f"{name:22s} {base_stmt:28s} {base:9.1f} {1.0:7.2f}")
        print(f"{'':22s} {stmt:28s} {t:9.1f} {ratio:7.2f}  {target} {'met' if ok(ratio) else 'MISSED'}")


if __name__ == "__main__":
    main()
