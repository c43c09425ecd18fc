"""discover_many: one formula per dataset (per group, per sensor, ...), serially or on a Dask cluster."""

from __future__ import annotations

from collections.abc import Hashable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, TypeVar, cast, overload

from kiv._discover import discover

if TYPE_CHECKING:
    from kiv.formula import Formula

__all__ = ["discover_many"]

_K = TypeVar("_K", bound=Hashable)

# One dataset: the X and y that kiv.discover takes (arrays, lists, data frames, series).
_Dataset = tuple[Any, Any] | Sequence[Any]


def _one(item: _Dataset, settings: dict[str, Any]) -> Formula:
    X, y = item
    return discover(X, y, **settings)


@overload
def discover_many(datasets: Mapping[_K, _Dataset], *, client: Any = None,
                  **settings: Any) -> dict[_K, Formula]: ...
@overload
def discover_many(datasets: Sequence[_Dataset], *, client: Any = None, **settings: Any) -> list[Formula]: ...


def discover_many(datasets: Mapping[Any, _Dataset] | Sequence[_Dataset], *, client: Any = None,
                  **settings: Any) -> dict[Any, Formula] | list[Formula]:
    """One :func:`kiv.discover` per dataset, serially or as tasks on a Dask cluster.

    Parameters
    ----------
    datasets : mapping or sequence
        A mapping name -> ``(X, y)``, or a sequence of ``(X, y)`` pairs.
    client : distributed.Client, optional
        With a Dask ``distributed.Client`` the searches run as tasks on its workers (one search per task;
        each worker process searches with its own worker pool), else one after the other here. The formulas
        are the same either way.
    **settings
        :func:`kiv.discover`'s keyword arguments (``progress`` is not available on a cluster).

    Returns
    -------
    dict or list
        A dict with the same keys as ``datasets``, or a list in the same order, of the formulas found.

    Raises
    ------
    ValueError
        For an entry that is not an (X, y) pair, naming it, and for what :func:`kiv.discover` refuses.
    """
    if "progress" in settings and client is not None:
        raise ValueError("progress: not available when the searches run on a cluster")
    keys: list[Any] | None = None
    items: list[_Dataset]
    if hasattr(datasets, "keys"):  # any mapping, as a dict or a data frame's groups
        named = cast("Mapping[Any, _Dataset]", datasets)
        keys = list(named.keys())
        items = [named[k] for k in keys]
    else:
        items = list(datasets)
    for i, item in enumerate(items):
        if not (isinstance(item, (tuple, list)) and len(item) == 2):
            where = repr(keys[i]) if keys is not None else str(i)
            raise ValueError(f"datasets: entry {where} is not an (X, y) pair")
    if client is None:
        results = [_one(item, settings) for item in items]
    else:
        futures = client.map(_one, items, settings=settings, pure=False)
        results = client.gather(futures)
    return dict(zip(keys, results)) if keys is not None else results
