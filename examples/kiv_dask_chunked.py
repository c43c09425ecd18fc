"""The kiv operator over an array too big to want in one piece, computed chunk by chunk with Dask.

The inputs are virtual: Dask generates each chunk when it is needed (by default two arrays of 2 GB each),
kiv.tension runs on every chunk as an ordinary numpy ufunc, and only the summary — or, with --store, a
file-backed numpy memmap written chunk by chunk — ever holds the result. Memory in use stays at a few
chunks per worker whatever --gigabytes says.

    pip install ".[dask]"
    python examples/kiv_dask_chunked.py                       # threads of this process
    python examples/kiv_dask_chunked.py --processes 2         # a local cluster of two worker processes
    python examples/kiv_dask_chunked.py --store /tmp/kiv.dat  # result written to disk as float64
"""

import argparse
import resource
import time

import dask
import dask.array as da
import numpy as np

import kiv


class MemmapTarget:
    """A float64 file that each chunk's task opens and writes for itself (a memmap object itself would be
    copied into every worker process and written there, not to the file)."""

    def __init__(self, path, shape):
        self.path, self.shape = path, shape
        np.memmap(path, dtype=np.float64, mode="w+", shape=shape).flush()  # sized once, up front

    def __setitem__(self, index, values):
        m = np.memmap(self.path, dtype=np.float64, mode="r+", shape=self.shape)
        m[index] = values
        m.flush()


def inputs(gigabytes, chunk_mb):
    n = int(gigabytes * 2**30 / 8)
    chunk = int(chunk_mb * 2**20 / 8)
    rng = da.random.default_rng(2024)
    # x spans the exponential's whole range, past the overflow guard; y crosses zero.
    x = rng.uniform(-800.0, 800.0, size=n, chunks=chunk)
    y = rng.normal(0.0, 10.0, size=n, chunks=chunk)
    return x, y


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gigabytes", type=float, default=2.0, help="size of each virtual input array")
    parser.add_argument("--chunk-mb", type=float, default=64.0, help="size of one chunk")
    parser.add_argument("--processes", type=int, default=0, help="run on a local cluster of this many processes")
    parser.add_argument("--store", metavar="PATH", help="write the result to a float64 memmap at PATH")
    args = parser.parse_args()

    x, y = inputs(args.gigabytes, args.chunk_mb)
    t = kiv.tension(x, y)  # lazy: a Dask array, one kiv.tension call per chunk
    print(f"inputs: 2 x {x.nbytes / 2**30:.2f} GiB in {x.numblocks[0]} chunks of {args.chunk_mb:g} MiB")

    if args.processes:
        import logging

        from distributed import Client, LocalCluster

        with LocalCluster(n_workers=args.processes, threads_per_worker=1, processes=True, dashboard_address=None,
                          silence_logs=logging.ERROR) as cluster, Client(cluster):
            print(f"local cluster of {args.processes} worker processes")
            run(args, x, t)
    else:
        run(args, x, t)


def run(args, x, t):
    start = time.perf_counter()
    if args.store:
        da.store(t, MemmapTarget(args.store, t.shape), lock=False)
        result = np.memmap(args.store, dtype=np.float64, mode="r", shape=t.shape)
        head = float(result[:1000].min()), float(result[-1000:].max())
        print(f"result written to {args.store} ({result.nbytes / 2**30:.2f} GiB, raw float64); "
              f"min of the first 1000 {head[0]:.6e}, max of the last 1000 {head[1]:.6e}")
    else:
        # The sum of values up to 1.8e308 overflows; the mean of their guarded logarithm does not.
        low, high, log_mean, slipping = dask.compute(t.min(), t.max(), kiv.ln(t).mean(), (x > 709.782712893384).sum())
        print(f"min {low:.6e}, max {high:.6e}, mean of ln|kiv| {log_mean:.6f}")
        print(f"points past the exponential's overflow guard: {slipping:,} (their exp is taken as exp(ln x))")
    elapsed = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 2**20
    print(f"{t.size:,} elements in {elapsed:.1f} s; this process's peak resident memory {peak:.2f} GiB")


if __name__ == "__main__":
    main()
