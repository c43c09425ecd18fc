"""The leak checker must be able to fail: deliberate leaks of memory and of references are caught."""

import ctypes

import pytest

from leaks import assert_no_leak

_hoard = []


def test_detects_a_growing_allocation():
    with pytest.raises(AssertionError, match="traced memory grew"):
        assert_no_leak(lambda: _hoard.append([1.0] * 4), repeat=2000)
    _hoard.clear()


def test_detects_a_leaked_reference():
    arg = [1.0, 2.0]
    incref = ctypes.pythonapi.Py_IncRef
    incref.argtypes = [ctypes.py_object]
    with pytest.raises(AssertionError, match="reference counts changed"):
        assert_no_leak(lambda: incref(arg), watched=(arg,), repeat=50)


def test_accepts_a_clean_call():
    arg = [1.0, 2.0]
    assert_no_leak(lambda: sum(arg), watched=(arg,), repeat=500)
