"""kiv's loops on the worker pool: one pool per process, any thread count, the lock released, fork-safe."""

import hashlib
import multiprocessing
import textwrap
import threading
import time

import numpy as np
import pytest

import kiv
from floats import assert_same_bits
from procs import run_python

# Every ufunc and both gufuncs over data with special values, contiguous and strided; prints a digest.
DIGEST = textwrap.dedent("""
    import hashlib, numpy as np, kiv
    rng = np.random.default_rng(7)
    n = 600_002
    special = np.array([0.0, -0.0, 5e-324, 1e-300, 709.782712893384, 709.79, np.inf, -np.inf, np.nan,
                        np.frombuffer(np.uint64(0x7ff4000000000123).tobytes())[0], -1.0])
    a = np.where(rng.random(n) < 0.2, rng.choice(special, n), rng.normal(0, 400, n))
    b = np.where(rng.random(n) < 0.2, rng.choice(special, n), rng.normal(0, 400, n))
    h = hashlib.sha256()
    for f in [kiv.exp, kiv.ln, kiv.sqrt, kiv.sin, kiv.cos]:
        h.update(f(a).tobytes()); h.update(f(a[::3]).tobytes())
    for f in [kiv.add, kiv.sub, kiv.mul, kiv.div, kiv.pow, kiv.tension]:
        h.update(f(a, b).tobytes()); h.update(f(a[::2], b[1::2]).tobytes())
    o = a[: 8 * 70_000].reshape(-1, 8)
    h.update(kiv.octonion_mul(o, o[::-1]).tobytes())
    for sig in ([1, 1, 1], [1, -1, -1, -1]):
        m = a[: 16 * 5000].reshape(-1, 2 ** len(sig))
        h.update(kiv.geometric_product(m, m[::-1], sig).tobytes())
    print(h.hexdigest())
""")


def test_results_are_the_same_for_every_thread_count():
    digests = {threads: run_python(DIGEST, threads=threads) for threads in (1, 2, 3)}
    assert len(set(digests.values())) == 1, digests


def test_kiv_and_kiv_core_share_one_pool():
    # Three threads configured: kiv_core's first batch starts the pool's two workers; kiv's loops then
    # start none (a second pool would add two more). One copy of the core library is mapped.
    out = run_python(textwrap.dedent("""
        import os, numpy as np, kiv_core, kiv
        tasks = lambda: len(os.listdir("/proc/self/task"))
        before = tasks()
        kiv_core.exp_n([1.0] * 200_000)
        after_core = tasks()
        kiv.exp(np.ones(1_000_000)); kiv.octonion_mul(np.ones((50_000, 8)), np.ones(8))
        after_kiv = tasks()
        maps = open("/proc/self/maps").read()
        print(after_core - before, after_kiv - after_core, len({l.split()[-1] for l in maps.splitlines() if "libkivcore" in l}))
    """), threads=3)
    assert out == "2 0 1"


def test_another_python_thread_runs_during_a_long_call():
    ticks = []
    stop = threading.Event()

    def heartbeat():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.002)

    x = np.random.default_rng(0).normal(size=8_000_000)
    o = np.ones((1_000_000, 8))
    beat = threading.Thread(target=heartbeat)
    beat.start()
    try:
        time.sleep(0.05)
        for call in (lambda: kiv.tension(x, x), lambda: kiv.octonion_mul(o, o),
                     lambda: kiv.geometric_product(o, o, [1, -1, 1])):
            start = time.perf_counter()
            call()
            end = time.perf_counter()
            during = sum(start < t < end for t in ticks)
            # With the lock held for the whole call there would be at most one tick inside it.
            assert during >= 3, f"{during} heartbeats in a call of {end - start:.3f} s"
    finally:
        stop.set()
        beat.join()


def _child(queue):
    x = np.linspace(-800, 800, 1_000_003)
    queue.put((kiv.tension(x, x).tobytes(), kiv.octonion_mul(x[:800_000].reshape(-1, 8), 2.0 * np.ones(8)).tobytes()))


@pytest.mark.filterwarnings("ignore:This process.*multi-threaded")
def test_forked_children_compute_on_a_pool_of_their_own():
    x = np.linspace(-800, 800, 1_000_003)
    expected = (kiv.tension(x, x).tobytes(), kiv.octonion_mul(x[:800_000].reshape(-1, 8), 2.0 * np.ones(8)).tobytes())
    ctx = multiprocessing.get_context("fork")
    for _ in range(2):
        queue = ctx.Queue()
        child = ctx.Process(target=_child, args=(queue,))
        child.start()
        got = queue.get(timeout=120)
        child.join(timeout=120)
        assert child.exitcode == 0
        assert [hashlib.sha256(g).digest() for g in got] == [hashlib.sha256(e).digest() for e in expected]


def test_fork_hammer_children_never_hang_while_threads_use_the_pool():
    # Threads keep kiv's loops on the pool while the main thread forks a few hundred times; each child
    # computes with kiv and kiv_core (both must build a pool of their own) and exits, or is killed at the
    # deadline and counted as hung.
    out = run_python(textwrap.dedent("""
        import os, threading, time, warnings
        import numpy as np, kiv, kiv_core
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process with threads
        x = np.linspace(-5.0, 5.0, 10_000)
        want, xs = kiv.exp(x).tobytes(), x.tolist()
        want_core = kiv_core.exp_n(xs)
        stop = threading.Event()
        def load():
            while not stop.is_set():
                kiv.exp(x)
        workers = [threading.Thread(target=load) for _ in range(6)]
        for t in workers:
            t.start()
        hung = failed = 0
        try:
            for _ in range(300):
                pid = os.fork()
                if pid == 0:
                    os._exit(0 if kiv.exp(x).tobytes() == want and kiv_core.exp_n(xs) == want_core else 1)
                deadline = time.monotonic() + 20
                while (status := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
                    time.sleep(0.001)
                if status[0] == 0:
                    os.kill(pid, 9)
                    os.waitpid(pid, 0)
                    hung += 1
                    break
                failed += status[1] != 0
        finally:
            stop.set()
            for t in workers:
                t.join()
        print(hung, failed)
    """), threads=3)
    assert out == "0 0"


def test_concurrent_callers_share_the_pool():
    # Python threads calling at once (as Dask's threaded scheduler does) each get their own results.
    rng = np.random.default_rng(2)
    inputs = [rng.normal(size=400_000) for _ in range(6)]
    expected = [kiv.tension(x, x[::-1]) for x in inputs]
    results = [None] * len(inputs)

    def work(i):
        for _ in range(3):
            results[i] = kiv.tension(inputs[i], inputs[i][::-1])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(inputs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        assert_same_bits(got, want)
