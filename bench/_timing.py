"""Timing shared by the benchmark scripts."""

import math
import time


def best_time(fn, repeat):
    """The best wall time of `repeat` calls of fn, after one warm-up call."""
    fn()
    best = math.inf
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best
