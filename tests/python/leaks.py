"""Leak checking shared by the tests: run a call many times and watch memory and reference counts."""

import gc
import sys
import tracemalloc


def run_swallowing(call):
    """Runs call(), returning the type of the exception it raised (None when it returned)."""
    try:
        call()
    except Exception as exc:  # noqa: BLE001 - error paths are what is being exercised
        return type(exc)
    except BaseException as exc:  # the panic exception derives from BaseException
        if isinstance(exc, (KeyboardInterrupt, SystemExit)):
            raise
        return type(exc)
    return None


def assert_no_leak(call, watched=(), repeat=3000, slack_bytes=32 * 1024):
    """Fails when `repeat` calls of `call` grow traced memory by more than `slack_bytes` or change
    the reference count of any object in `watched` (the call's argument objects)."""
    for _ in range(100):
        run_swallowing(call)
    gc.collect()
    counts_before = [sys.getrefcount(o) for o in watched]
    tracemalloc.start()
    try:
        gc.collect()
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(repeat):
            run_swallowing(call)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    counts_after = [sys.getrefcount(o) for o in watched]
    assert counts_after == counts_before, f"reference counts changed: {counts_before} -> {counts_after}"
    grown = end - start
    assert grown < slack_bytes, f"traced memory grew by {grown} bytes over {repeat} calls"
