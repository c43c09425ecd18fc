"""Octonion and geometric products: numpy gufuncs, which also take Dask arrays and stay lazy there."""

from __future__ import annotations

import functools
import operator
from collections.abc import Callable, Iterable
from typing import Any, Final, SupportsIndex, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

from kiv import _native

__all__ = ["Gufunc", "octonion_mul", "geometric_product", "geometric_product_gufunc"]

# Distinct signatures kept at once; an algebra used again after it was dropped is simply built again.
_CACHE_SIZE: Final = 64


def _is_dask(x: object) -> bool:
    # Dask collections carry a task graph. Looked up on the type, so that numpy input never imports Dask.
    return hasattr(type(x), "__dask_graph__")


def _lazy(blocks: Callable[..., Any], signature: str, a: object, b: object, kwargs: dict[str, Any]) -> Any:
    """The product as a Dask array: blocks (a picklable function of two numpy blocks) runs per block.

    Dask works out a gufunc's output type by calling it on arrays of one element, which a gufunc with fixed
    core sizes refuses; the output is float64 whatever comes in, so it is said instead. The core axis holds
    at most 2**16 coefficients, so it is put into one chunk rather than refused when it was split.
    """
    import dask.array as da

    apply: Callable[..., Any] = da.apply_gufunc  # Dask carries no types
    kwargs.setdefault("allow_rechunk", True)
    return apply(blocks, signature, a, b, output_dtypes=np.float64, **kwargs)


class Gufunc:
    """A kiv gufunc: with numpy operands it is the numpy gufunc itself (``out=``, ``axes=``, broadcasting, the
    same errors); with a Dask array among the operands the product is computed lazily, block by block, with
    the same bits.

    The numpy gufunc's ``signature``, ``nin``, ``nout``, ``types`` and ``ntypes`` are carried over; ``ufunc``
    is the numpy gufunc itself. Instances pickle by reference, as numpy's own ufuncs do.
    """

    def __init__(self, ufunc: np.ufunc, name: str) -> None:
        self.ufunc: np.ufunc = ufunc
        assert ufunc.signature is not None, "a gufunc has a signature"
        self.signature: str = ufunc.signature
        self.nin: int = ufunc.nin
        self.nout: int = ufunc.nout
        self.types: list[str] = ufunc.types
        self.ntypes: int = ufunc.ntypes
        self.__name__ = name
        self.__qualname__ = name
        self.__module__ = "kiv"
        self.__doc__ = ufunc.__doc__

    @overload
    def __call__(self, a: NDArray[Any], b: ArrayLike, /, **kwargs: Any) -> NDArray[np.float64]: ...
    @overload
    def __call__(self, a: ArrayLike, b: NDArray[Any], /, **kwargs: Any) -> NDArray[np.float64]: ...
    @overload
    def __call__(self, a: ArrayLike, b: ArrayLike, /, **kwargs: Any) -> Any: ...

    def __call__(self, a: ArrayLike, b: ArrayLike, /, **kwargs: Any) -> Any:
        if _is_dask(a) or _is_dask(b):
            return _lazy(self, self.signature, a, b, kwargs)
        return self.ufunc(a, b, **kwargs)

    def __reduce__(self) -> str:
        return self.__name__

    def __repr__(self) -> str:
        return f"<kiv gufunc '{self.__name__}' {self.signature}>"


octonion_mul: Final = Gufunc(_native.octonion_mul, "octonion_mul")


@functools.lru_cache(maxsize=_CACHE_SIZE)
def _gufunc(signature: tuple[int, ...]) -> np.ufunc:
    return _native._geometric_product_gufunc(signature)


def _geometric_blocks(key: tuple[int, ...], a: NDArray[np.float64], b: NDArray[np.float64],
                      **kwargs: Any) -> NDArray[np.float64]:
    # Module level, so that Dask can ship it to worker processes; each process builds its own gufunc.
    return _gufunc(key)(a, b, **kwargs)  # type: ignore[no-any-return]


@overload
def geometric_product(a: NDArray[Any], b: ArrayLike, signature: Iterable[SupportsIndex],
                      **kwargs: Any) -> NDArray[np.float64]: ...
@overload
def geometric_product(a: ArrayLike, b: NDArray[Any], signature: Iterable[SupportsIndex],
                      **kwargs: Any) -> NDArray[np.float64]: ...
@overload
def geometric_product(a: ArrayLike, b: ArrayLike, signature: Iterable[SupportsIndex], **kwargs: Any) -> Any: ...


def geometric_product(a: ArrayLike, b: ArrayLike, signature: Iterable[SupportsIndex], **kwargs: Any) -> Any:
    """Geometric product ``a b`` of multivectors along the last axis, under a diagonal metric.

    Parameters
    ----------
    a, b : array_like
        Multivectors of ``2**len(signature)`` blade coefficients along the last axis (coefficient ``k``
        belongs to the blade of the basis vectors whose bits are set in ``k``); the other axes broadcast.
        Dask arrays give a lazy Dask array with the same bits.
    signature : sequence of int
        ``e_m e_m = signature[m]``, each -1, 0 or 1; 1 to 16 basis vectors.
    **kwargs
        Passed to the gufunc (``out=``, ``axes=``, ...), which is built once per signature and cached.

    Returns
    -------
    ndarray
        The products, float64.

    Notes
    -----
    A pair of dense multivectors costs ``4**len(signature)`` multiply-adds (16 basis vectors: seconds per
    pair), and, as with numpy's own loops, Ctrl-C takes effect only when the call returns.
    """
    key = _key(signature)
    if _is_dask(a) or _is_dask(b):
        return _lazy(functools.partial(_geometric_blocks, key), str(_gufunc(key).signature), a, b, kwargs)
    return _gufunc(key)(a, b, **kwargs)


def geometric_product_gufunc(signature: Iterable[SupportsIndex]) -> np.ufunc:
    """The numpy gufunc ``(n),(n)->(n)`` that :func:`geometric_product` uses for ``signature``
    (``n = 2**len(signature)``)."""
    return _gufunc(_key(signature))


def _key(signature: Iterable[SupportsIndex]) -> tuple[int, ...]:
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
