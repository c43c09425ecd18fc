"""discover_many: one formula per dataset (per group, per sensor, ...), serially or on a Dask cluster."""

from kiv._discover import discover

__all__ = ["discover_many"]


def _one(item, settings):
    X, y = item
    return discover(X, y, **settings)


def discover_many(datasets, *, client=None, **settings):
    """One :func:`kiv.discover` per dataset. datasets is a mapping name -> (X, y), or a sequence of (X, y)
    pairs; the result is a dict with the same keys (or a list in the same order). With a Dask
    ``distributed.Client`` the searches run as tasks on its workers (one search per task; each worker
    process searches with its own worker pool), else one after the other here. The formulas are the same
    either way. settings are discover's keyword arguments (progress is not available on a cluster)."""
    if "progress" in settings and client is not None:
        raise ValueError("progress: not available when the searches run on a cluster")
    keyed = hasattr(datasets, "keys")
    keys = list(datasets.keys()) if keyed else None
    items = [datasets[k] for k in keys] if keyed else list(datasets)
    for i, item in enumerate(items):
        if not (isinstance(item, (tuple, list)) and len(item) == 2):
            where = repr(keys[i]) if keyed else str(i)
            raise ValueError(f"datasets: entry {where} is not an (X, y) pair")
    if client is None:
        results = [_one(item, settings) for item in items]
    else:
        futures = client.map(_one, items, settings=settings, pure=False)
        results = client.gather(futures)
    return dict(zip(keys, results)) if keyed else results
