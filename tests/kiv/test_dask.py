"""kiv's ufuncs and gufuncs applied to Dask arrays, block by block, on threads and on worker processes."""

import numpy as np
import pytest

import kiv
from floats import assert_same_bits

da = pytest.importorskip("dask.array")


def _inputs():
    rng = np.random.default_rng(11)
    x = rng.normal(0, 400, size=(600, 500))
    y = rng.normal(0, 400, size=(600, 500))
    x[::7, ::5] = np.nan
    y[3::11, ::3] = 0.0
    x[5, :] = 709.782712893384
    return x, y


def _graph(dx, dy):
    # Element-wise ufuncs, chained and broadcasting against a column; the gufuncs, with the core axis split
    # over two chunks (columns 120:136 cross a chunk edge) and broadcasting against a single multivector.
    return (kiv.tension(dx, dy), kiv.add(kiv.exp(dx[:, :1]), kiv.ln(dy)), kiv.pow(kiv.div(dx, dy), 0.5),
            kiv.octonion_mul(dx[:, :8], dy[:, 8:16]), kiv.geometric_product(dx[:, 120:136], dy[0, :16], [1, -1, 0, 1]))


def _expected(x, y):
    return _graph(x, y)


def test_threaded_scheduler_gives_the_in_memory_bits():
    x, y = _inputs()
    dx, dy = da.from_array(x, chunks=(150, 125)), da.from_array(y, chunks=(150, 125))
    lazy = _graph(dx, dy)
    assert all(isinstance(r, da.Array) for r in lazy)
    got = da.compute(*lazy, scheduler="threads", num_workers=4)
    for g, e in zip(got, _expected(x, y)):
        assert_same_bits(g, e)


@pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::ResourceWarning")
def test_two_worker_processes_give_the_in_memory_bits():
    distributed = pytest.importorskip("distributed")
    x, y = _inputs()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        dx, dy = da.from_array(x, chunks=(150, 125)), da.from_array(y, chunks=(150, 125))
        got = client.compute(_graph(dx, dy), sync=True)
        # The blocks were computed in the worker processes, not here.
        pids = client.run(lambda: __import__("os").getpid())
        assert len(pids) == 2
    for g, e in zip(got, _expected(x, y)):
        assert_same_bits(g, e)
