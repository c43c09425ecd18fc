"""The leak checker must be able to fail: deliberate leaks of Python memory, of C heap memory and of
references are caught."""

import ctypes

import pytest

import leaks
from leaks import assert_no_leak

_hoard = []

_libc = ctypes.CDLL(None)
_libc.malloc.restype = ctypes.c_void_p
_libc.malloc.argtypes = [ctypes.c_size_t]
_libc.free.argtypes = [ctypes.c_void_p]
_LEAKED_BLOCK = 48  # about what a native record that is never destroyed costs


def _native_leak():
    # Invisible to the Python allocator: the block comes straight from the C library and is never freed.
    _libc.malloc(_LEAKED_BLOCK)


def _native_round_trip():
    _libc.free(_libc.malloc(_LEAKED_BLOCK))


needs_native_meter = pytest.mark.skipif(leaks.NATIVE_HEAP is None, reason=leaks.NATIVE_HEAP_SOURCE)


def test_detects_a_growing_allocation():
    with pytest.raises(AssertionError, match="traced memory grew"):
        assert_no_leak(lambda: _hoard.append([1.0] * 4), repeat=2000)
    _hoard.clear()


@needs_native_meter
def test_detects_a_native_leak():
    with pytest.raises(AssertionError, match="C heap grew"):
        assert_no_leak(_native_leak, repeat=2000)


@needs_native_meter
def test_native_meter_counts_the_leaked_blocks():
    assert leaks.native_growth(_native_leak, repeat=1000) >= 1000 * _LEAKED_BLOCK
    assert abs(leaks.native_growth(_native_round_trip, repeat=1000)) < 1000 * _LEAKED_BLOCK


def test_detects_a_leaked_reference():
    arg = [1.0, 2.0]
    incref = ctypes.pythonapi.Py_IncRef
    incref.argtypes = [ctypes.py_object]
    with pytest.raises(AssertionError, match="reference counts changed"):
        assert_no_leak(lambda: incref(arg), watched=(arg,), repeat=50)


def test_accepts_a_clean_call():
    arg = [1.0, 2.0]
    assert_no_leak(lambda: sum(arg), watched=(arg,), repeat=500)
    assert_no_leak(_native_round_trip, repeat=500)
