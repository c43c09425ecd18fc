"""Element-wise batch functions: values, lengths, thread-count independence and fork safety."""

import array
import hashlib
import math
import multiprocessing
import os
import resource
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kiv_core
from leaks import assert_no_leak
from procs import run_python
from reference import BINARY, UNARY, same

E = math.e
NAN = math.nan
INF = math.inf


@pytest.mark.parametrize(
    "name, args, expected",
    [
        ("exp_n", ([],), []),
        ("add_n", ([], [1.0, 2.0]), []),
        ("add_n", ([1.0, 2.0, 3.0], [10.0]), [11.0]),
        ("exp_n", ([0.0, 709.782712893384],), [1.0, 1.7976931348622732e308]),
        ("ln_n", ([1.0, -1.0, 0.0, -0.0],), [0.0, 0.0, -690.7755278982137, -690.7755278982137]),
        ("tension_n", ([0.0], [0.0]), [691.7755278982137]),
        ("tension_n", ([1.0], [-1.0]), [E]),
        ("div_n", ([1.0, 1.0, 6.0, 1.0], [0.0, 1e-301, -3.0, 1e-300]), [NAN, NAN, -2.0, 1.0 / 1e-300]),
        ("sqrt_n", ([-4.0],), [2.0]),
        ("pow_n", ([-2.0, 0.0, NAN], [3.0, -1.0, 0.0]), [8.0, INF, 1.0]),
        ("sub_n", ([5.0], [3.0]), [2.0]),
        ("mul_n", ([1.5, -0.0], [2.0, 3.0]), [3.0, -0.0]),
        ("sin_n", ([0.0, INF],), [0.0, NAN]),
        ("cos_n", ([0.0],), [1.0]),
        ("exp_n", ([NAN, INF, -INF],), [NAN, INF, 0.0]),
    ],
)
def test_worked_values(name, args, expected):
    got = getattr(kiv_core, name)(*args)
    assert type(got) is list and len(got) == len(expected)
    assert all(type(v) is float for v in got)
    assert all(same(g, e) for g, e in zip(got, expected)), got


def test_exp_is_guarded_above_the_threshold():
    (v,) = kiv_core.exp_n([710.0])
    assert math.isfinite(v) and abs(v - 710.0) < 1e-9
    assert kiv_core.pow_n([-8.0], [1 / 3])[0] == pytest.approx(2.0)


floats = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True)


@settings(max_examples=200, deadline=None)
@given(xs=st.lists(floats, max_size=50), name=st.sampled_from(sorted(UNARY)))
def test_unary_matches_the_scalar_primitive(xs, name):
    got = getattr(kiv_core, name)(xs)
    assert len(got) == len(xs)
    for x, g in zip(xs, got):
        assert same(g, UNARY[name](x)), (name, x, g)


@settings(max_examples=200, deadline=None)
@given(as_=st.lists(floats, max_size=40), bs=st.lists(floats, max_size=40), name=st.sampled_from(sorted(BINARY)))
def test_binary_matches_the_scalar_primitive_and_truncates(as_, bs, name):
    got = getattr(kiv_core, name)(as_, bs)
    assert len(got) == min(len(as_), len(bs))
    for a, b, g in zip(as_, bs, got):
        assert same(g, BINARY[name](a, b)), (name, a, b, g)


def test_large_input_equals_element_by_element_results():
    xs = [(i % 2000) / 7.0 - 100.0 for i in range(300_000)]
    ys = [(i % 977) / 3.0 - 50.0 for i in range(300_000)]
    got = kiv_core.tension_n(xs, ys)
    want = [BINARY["tension_n"](x, y) for x, y in zip(xs, ys)]
    assert all(same(g, w) for g, w in zip(got, want))


DIGEST_SCRIPT = textwrap.dedent(
    """
    import array, hashlib, kiv_core
    n = 1_000_003
    xs = [(i % 5003) / 11.0 - 200.0 for i in range(n)]
    ys = [(i % 4001) / 13.0 - 150.0 for i in range(n)]
    h = hashlib.sha256()
    for name in ["exp_n", "ln_n", "sqrt_n", "sin_n", "cos_n"]:
        h.update(array.array("d", getattr(kiv_core, name)(xs)).tobytes())
    for name in ["add_n", "sub_n", "mul_n", "div_n", "pow_n", "tension_n"]:
        h.update(array.array("d", getattr(kiv_core, name)(xs, ys)).tobytes())
    print(h.hexdigest())
    """
)


def test_results_do_not_depend_on_the_thread_count():
    digests = {n: run_python(DIGEST_SCRIPT, threads=n) for n in (1, 2, 3, 8)}
    assert len(set(digests.values())) == 1, digests


THREADS_SCRIPT = textwrap.dedent(
    """
    import os, kiv_core
    kiv_core.exp_n([0.0] * 100_000)
    print(len(os.listdir("/proc/self/task")))
    """
)


@pytest.mark.parametrize(
    "env, expected",
    [
        ({"RAYON_NUM_THREADS": "3"}, 3),
        ({"RAYON_NUM_THREADS": "1", "RAYON_RS_NUM_CPUS": "4"}, 1),
        ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "4"}, len(os.sched_getaffinity(0))),
        ({"RAYON_NUM_THREADS": "many", "RAYON_RS_NUM_CPUS": "4"}, 4),
        ({"RAYON_RS_NUM_CPUS": "2"}, 2),
        ({"RAYON_RS_NUM_CPUS": "0"}, len(os.sched_getaffinity(0))),
        ({}, len(os.sched_getaffinity(0))),
    ],
)
def test_pool_size_follows_the_environment(env, expected):
    # The main thread plus the pool's workers: the caller counts as one of the pool's threads.
    assert int(run_python(THREADS_SCRIPT, env)) == expected


def _no_room_for_thread_stacks():
    # Thread stacks take the size of the stack limit; one this large cannot be mapped, so the system
    # refuses to start any further thread.
    resource.setrlimit(resource.RLIMIT_STACK, (2**46, resource.getrlimit(resource.RLIMIT_STACK)[1]))


def test_a_pool_whose_threads_cannot_start_runs_on_the_calling_thread():
    hard = resource.getrlimit(resource.RLIMIT_STACK)[1]
    if hard != resource.RLIM_INFINITY and hard < 2**46:
        pytest.skip("the stack limit cannot be raised")
    script = textwrap.dedent(
        """
        import os, kiv_core
        got = kiv_core.tension_n([float(i % 100) for i in range(100_000)], [2.0] * 100_000)
        want = [kiv_core.tension_n([float(i % 100)], [2.0])[0] for i in range(100_000)]
        print(got == want, len(os.listdir("/proc/self/task")))
        """
    )
    assert run_python(script, {"RAYON_NUM_THREADS": "4"}, preexec_fn=_no_room_for_thread_stacks) == "True 1"


def _child_computes(queue):
    xs = [float(i % 100) for i in range(200_000)]
    queue.put(array.array("d", kiv_core.tension_n(xs, xs)).tobytes())


@pytest.mark.filterwarnings("ignore:This process.*multi-threaded")
def test_batch_functions_work_in_a_forked_child():
    xs = [float(i % 100) for i in range(200_000)]
    expected = array.array("d", kiv_core.tension_n(xs, xs)).tobytes()  # the parent's pool is running
    ctx = multiprocessing.get_context("fork")
    for _ in range(2):
        queue = ctx.Queue()
        child = ctx.Process(target=_child_computes, args=(queue,))
        child.start()
        got = queue.get(timeout=120)
        child.join(timeout=120)
        assert child.exitcode == 0
        assert hashlib.sha256(got).digest() == hashlib.sha256(expected).digest()


@pytest.mark.filterwarnings("ignore:This process.*multi-threaded")
def test_fork_pool_map():
    ctx = multiprocessing.get_context("fork")
    kiv_core.exp_n([1.0] * 100_000)
    with ctx.Pool(2) as pool:
        results = pool.map(kiv_core.exp_n, [[float(i)] * 50_000 for i in range(4)], chunksize=1)
    assert [r[0] for r in results] == [math.exp(i) for i in range(4)]


@pytest.mark.parametrize("name", sorted(UNARY))
def test_unary_entries_do_not_leak(name):
    fn = getattr(kiv_core, name)
    xs = [0.5, -1.0, 2.0] * 50
    bad = [1.0, "x"]
    assert_no_leak(lambda: fn(xs), watched=(xs,))
    assert_no_leak(lambda: fn(bad), watched=(bad,))
    assert_no_leak(lambda: fn(xs, xs), watched=(xs,))
    assert_no_leak(lambda: fn(xs=xs, ys=xs), watched=(xs,))


@pytest.mark.parametrize("name", sorted(BINARY))
def test_binary_entries_do_not_leak(name):
    fn = getattr(kiv_core, name)
    xs = [0.5, -1.0, 2.0] * 50
    tup = tuple(xs)
    bad = (1.0, None)
    assert_no_leak(lambda: fn(xs, tup), watched=(xs, tup))
    assert_no_leak(lambda: fn(xs, bad), watched=(xs, bad))
    assert_no_leak(lambda: fn(xs), watched=(xs,))
