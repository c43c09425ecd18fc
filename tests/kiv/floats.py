"""Float64 inputs that reach every branch of the guards, and bitwise comparison of arrays."""

import struct

import numpy as np
from hypothesis import strategies as st

SPECIAL = [
    0.0, -0.0, 1.0, -1.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1e-310, -1e-310,
    1e-300, -1e-300, 1e-301, -1e-301, 709.782712893384, 709.7827128933841, 709.78, 709.79, 709.0, -709.0,
    710.0, -745.2, 1e308, -1e308, float("inf"), float("-inf"), float("nan"), 0.5, 2.0, -2.0, 3.0,
]


def _from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# NaNs of either sign with quiet or signalling payloads.
nans = st.builds(
    lambda sign, quiet, payload: _from_bits((sign << 63) | (0x7FF << 52) | (quiet << 51) | payload),
    st.integers(0, 1), st.integers(0, 1), st.integers(1, (1 << 51) - 1),
)

f64 = st.one_of(st.sampled_from(SPECIAL), st.floats(allow_nan=True, allow_subnormal=True), nans)


def bits(a):
    """The bit patterns of a float64 array (NaN payloads and signs included)."""
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def assert_same_bits(got, expected):
    got = np.asarray(got, dtype=np.float64)
    expected = np.asarray(expected, dtype=np.float64)
    assert got.shape == expected.shape
    diff = np.flatnonzero(bits(got) != bits(expected))
    assert diff.size == 0, f"{diff.size} elements differ, first at {diff[0]}: {got.flat[diff[0]]!r} != {expected.flat[diff[0]]!r}"
