"""discover_many: one formula per dataset (per group, per sensor, ...), serially or on a Dask cluster."""

from __future__ import annotations

from collections.abc import Hashable, Mapping, Sequence
from typing import Any, TypeVar, cast, overload

import numpy.typing as npt

from kiv._discover import discover
from kiv.formula import Formula

__all__ = ["discover_many"]

Dataset = tuple[npt.ArrayLike, npt.ArrayLike]
K = TypeVar("K", bound=Hashable)


def _one(item: Dataset, settings: dict[str, Any]) -> Formula:
    X, y = item
    return discover(X, y, **settings)


@overload
def discover_many(datasets: Mapping[K, Dataset], *, client: Any = None, **settings: Any) -> dict[K, Formula]: ...
@overload
def discover_many(datasets: Sequence[Dataset], *, client: Any = None, **settings: Any) -> list[Formula]: ...


def discover_many(datasets: Mapping[K, Dataset] | Sequence[Dataset], *, client: Any = None,
                  **settings: Any) -> dict[K, Formula] | list[Formula]:
    """One :func:`kiv.discover` per dataset.

    Parameters
    ----------
    datasets : mapping of name to (X, y), or sequence of (X, y)
        The data of each search.
    client : distributed.Client, optional
        With a Dask client the searches run as tasks on its workers (one search per task; each worker
        process searches with its own worker pool), else one after the other here. The formulas are the
        same either way.
    **settings
        :func:`kiv.discover`'s keyword arguments (``progress`` is not available on a cluster).

    Returns
    -------
    dict or list of Formula
        A dict with the keys of a mapping, or a list in the order of a sequence.

    Raises
    ------
    ValueError
        For an entry that is not an (X, y) pair, naming it, and for what discover refuses.
    """
    if "progress" in settings and client is not None:
        raise ValueError("progress: not available when the searches run on a cluster")
    keys: list[K] | None = None
    items: list[Any]
    if hasattr(datasets, "keys"):  # a mapping, or anything keyed like one
        mapping = cast(Mapping[K, Dataset], datasets)
        keys = list(mapping.keys())
        items = [mapping[k] for k in keys]
    else:
        items = list(datasets)
    for i, item in enumerate(items):
        if not (isinstance(item, (tuple, list)) and len(item) == 2):
            where = repr(keys[i]) if keys is not None else str(i)
            raise ValueError(f"datasets: entry {where} is not an (X, y) pair")
    if client is None:
        results: list[Formula] = [_one(item, settings) for item in items]
    else:
        futures = client.map(_one, items, settings=settings, pure=False)
        results = client.gather(futures)
    return dict(zip(keys, results)) if keys is not None else results
