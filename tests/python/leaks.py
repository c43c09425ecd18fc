"""Leak checking shared by the tests: run a call many times and watch Python memory, the C heap and
reference counts."""

import ctypes
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


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def _native_heap_meter():
    """(meter, source): meter() gives the bytes the C heap has handed out and not taken back, summed over
    every thread's arena; meter is None (and source the reason) where no such figure can be read.

    Under the address sanitizer its allocator replaces the C library's, whose statistics then stand
    still: the sanitizer's own count is read instead."""
    process = ctypes.CDLL(None)
    try:
        allocated = process.__sanitizer_get_current_allocated_bytes
    except AttributeError:
        pass
    else:
        allocated.restype = ctypes.c_size_t
        allocated.argtypes = []
        return allocated, "sanitizer allocator"
    try:
        mallinfo2 = process.mallinfo2
    except AttributeError:
        return None, "the C library has no mallinfo2 (not glibc 2.33 or later)"
    mallinfo2.restype = _MallInfo2
    mallinfo2.argtypes = []

    def in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd  # blocks in use in the arenas + blocks mapped on their own

    return in_use, "glibc mallinfo2"


NATIVE_HEAP, NATIVE_HEAP_SOURCE = _native_heap_meter()


def _warm_up(call):
    # Lazily built state (the worker pool, caches, free lists, interned names) reaches its size here.
    for _ in range(100):
        run_swallowing(call)
    gc.collect()


def native_growth(call, repeat):
    """Bytes the C heap grew by over `repeat` calls of `call` (None where it cannot be measured)."""
    if NATIVE_HEAP is None:
        return None
    _warm_up(call)
    start = NATIVE_HEAP()
    for _ in range(repeat):
        run_swallowing(call)
    gc.collect()
    return NATIVE_HEAP() - start


def assert_no_leak(call, watched=(), repeat=3000, slack_bytes=32 * 1024):
    """Fails when `repeat` calls of `call` grow the memory traced by the Python allocator or the C heap by
    more than `slack_bytes`, or change the reference count of any object in `watched` (the call's
    argument objects).

    The C heap is measured in a run of its own, without tracing: the tracer keeps its records in the C
    heap. Where the C heap cannot be measured, that half is skipped (NATIVE_HEAP_SOURCE says why)."""
    _warm_up(call)
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

    grown_native = native_growth(call, repeat)
    if grown_native is not None:
        assert grown_native < slack_bytes, (
            f"C heap grew by {grown_native} bytes over {repeat} calls ({NATIVE_HEAP_SOURCE})")
