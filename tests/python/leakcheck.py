"""Leak checks for repeated calls into the module: reference counts of watched objects and traced memory."""

import gc
import sys
import tracemalloc


def _repeat(call, times):
    for _ in range(times):
        try:
            call()
        except Exception:
            pass


def assert_no_leaks(call, *watched, repeat=4000, max_growth=8192):
    """Run call() (which may raise an Exception) `repeat` times.

    The reference counts of the watched objects must come back unchanged, and the memory traced by
    tracemalloc must not grow by more than max_growth bytes: one leaked float per call would already
    add repeat * 24 bytes.
    """
    _repeat(call, 200)  # warm up: type creation, interned names, free lists
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    tracemalloc.start()
    try:
        _repeat(call, 200)
        gc.collect()
        base = tracemalloc.get_traced_memory()[0]
        _repeat(call, repeat)
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - base
    finally:
        tracemalloc.stop()
    after = [sys.getrefcount(o) for o in watched]
    assert after == before, f"reference counts changed: {before} -> {after}"
    assert grown < max_growth, f"traced memory grew by {grown} bytes over {repeat} calls"
