"""Geometric products through gufuncs built once per metric signature."""

import functools
import operator

from kiv import _native

# Distinct signatures kept at once; an algebra used again after it was dropped is simply built again.
_CACHE_SIZE = 64


@functools.lru_cache(maxsize=_CACHE_SIZE)
def _gufunc(signature):
    return _native._geometric_product_gufunc(signature)


def geometric_product(a, b, signature, **kwargs):
    """Geometric product a b of multivectors over the last axis, under the diagonal metric
    e_m e_m = signature[m] (each -1, 0 or 1; 1 to 16 basis vectors).

    a and b hold 2**len(signature) blade coefficients along their last axis (coefficient k belongs to
    the blade of the basis vectors whose bits are set in k) and broadcast against each other over the
    other axes. Keyword arguments (out=, ...) go to the underlying gufunc, which is built once per
    signature and cached.

    A pair of dense multivectors costs 4**len(signature) multiply-adds (16 basis vectors: seconds per
    pair), and, as with numpy's own loops, Ctrl-C takes effect only when the call returns.
    """
    return _gufunc(_key(signature))(a, b, **kwargs)


def geometric_product_gufunc(signature):
    """The gufunc (n),(n)->(n) that kiv.geometric_product uses for signature (n = 2**len(signature))."""
    return _gufunc(_key(signature))


def _key(signature):
    """The signature as a tuple of ints (the cache key); the native builder checks length and values."""
    if isinstance(signature, (str, bytes)):
        raise TypeError("signature must be a sequence of integers (-1, 0 or 1), not " + type(signature).__name__)
    key = []
    for m, s in enumerate(signature):
        try:
            key.append(operator.index(s))
        except TypeError:
            raise ValueError(f"signature entry {m} is {s!r}: entries must be -1, 0 or 1") from None
    return tuple(key)
