"""Geometric and octonion products: worked values, agreement with the stated algorithms on arbitrary
floats, the out-of-range panics, argument errors, thread-count independence and leaks."""

import math
import textwrap

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kiv_core import geometric_product_n, octonion_mul_n
from procs import run_python
from reference import same_seq

INF = math.inf
NAN = math.nan


# ---- the algorithms, written out step by step ---------------------------------------------------------


class OutOfBounds(Exception):
    def __init__(self, length, index):
        super().__init__(f"index out of bounds: the len is {length} but the index is {index}")


def geometric_product(a, b, sig):
    n = len(a)
    r = [0.0] * n
    for i in range(n):
        if a[i] == 0.0:
            continue
        for j in range(n):
            if j >= len(b):
                raise OutOfBounds(len(b), j)
            if b[j] == 0.0:
                continue
            f = 1.0
            for m in range(j.bit_length()):
                if not (j >> m) & 1:
                    continue
                if bin(i >> (m + 1)).count("1") % 2:
                    f = -f
                if (i >> m) & 1:
                    if m >= len(sig):
                        raise OutOfBounds(len(sig), m)
                    f *= float(sig[m])
            k = i ^ j
            if k >= n:
                raise OutOfBounds(n, k)
            r[k] = b[j] * (f * a[i]) + r[k]
    return r


def octonion_table():
    table = [[None] * 8 for _ in range(8)]
    for i in range(8):
        table[0][i] = table[i][0] = (1.0, i)
    for i in range(1, 8):
        table[i][i] = (-1.0, 0)
    for t in range(7):
        p, q, r = t % 7 + 1, (t + 1) % 7 + 1, (t + 3) % 7 + 1
        for x, y, z in ((p, q, r), (q, r, p), (r, p, q)):
            table[x][y], table[y][x] = (1.0, z), (-1.0, z)
    return table


OCTONION_TABLE = octonion_table()


def octonion_product(a, b):
    r = [0.0] * 8
    for i in range(8):
        if a[i] == 0.0:
            continue
        for j in range(8):
            if b[j] == 0.0:
                continue
            s, k = OCTONION_TABLE[i][j]
            r[k] = (s * a[i]) * b[j] + r[k]
    return r


def panic_message(call):
    """The message of the panic exception call() raises (which `except Exception` must not catch)."""
    try:
        try:
            call()
        except Exception:  # noqa: BLE001
            raise AssertionError("a panic was caught as an ordinary Exception")
    except BaseException as exc:  # noqa: BLE001
        assert type(exc).__module__ == "pyo3_runtime" and type(exc).__qualname__ == "PanicException", exc
        (message,) = exc.args
        return message
    raise AssertionError("no panic")


def unit(k, n, c=1.0):
    v = [0.0] * n
    v[k] = c
    return v


# ---- geometric product --------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "a, b, sig, expected",
    [
        ([[0, 1, 0, 0]], [[0, 0, 1, 0]], [1, 1], [[0, 0, 0, 1]]),
        ([[0, 0, 1, 0]], [[0, 1, 0, 0]], [1, 1], [[0, 0, 0, -1]]),
        ([[0, 1, 0, 0]], [[0, 1, 0, 0]], [-1, 1], [[-1, 0, 0, 0]]),
        ([[0, 1, 0, 0]], [[0, 1, 0, 0]], [0, 1], [[0, 0, 0, 0]]),
        ([[0, 0, 0, 1]], [[0, 0, 0, 1]], [1, 1], [[-1, 0, 0, 0]]),
        ([unit(7, 8)], [unit(7, 8)], [1, 1, 1], [unit(0, 8, -1.0)]),
        ([[2, 0, 0, 0]], [[3, 0, 0, 0]], [], [[6, 0, 0, 0]]),
        ([[2, 0, 0, 0]], [[3, 0, 0, 0]], [1, -1, 0], [[6, 0, 0, 0]]),
        # e_0 (1 + e_0 e_1) = e_0 + e_1 under a spacetime metric; b's surplus coefficients are ignored.
        ([[0, 1, 0, 0]], [[1, 0, 0, 1, 7, 7]], [1, -1], [[0, 1, 1, 0]]),
        ([[0, 1, 0, 0], [1, 0, 0, 0]], [[0, 0, 1, 0], [5, 0, 0, 0], [9, 9, 9, 9]], [1, 1], [[0, 0, 0, 1], [5, 0, 0, 0]]),
        ([[]], [[1.0]], [], [[]]),
        ([], [[1.0]], [1], []),
        # A zero never meets an infinity.
        ([[0, 1]], [[INF, 0]], [1], [[0, INF]]),
        ([[1, 2, 3]], [[1, 0, 0]], [1, 1], [[1, 2, 3]]),
    ],
)
def test_geometric_product_values(a, b, sig, expected):
    got = geometric_product_n(a, b, sig)
    assert type(got) is list and all(type(r) is list and all(type(v) is float for v in r) for r in got)
    assert got == expected


def test_nan_spreads_through_the_products_it_takes_part_in():
    ((s, e0, e1, e01),) = geometric_product_n([[NAN, 0, 0, 0]], [[0, 0, 2, 0]], [1, 1])
    assert (s, e0, e01) == (0.0, 0.0, 0.0) and math.isnan(e1)


def test_associative_on_integers_for_any_signature():
    rng = np.random.default_rng(3)
    for sig in ([1, 1, 1], [1, -1, -1, -1], [0, 1, 1], [1, 0, -1, 1], [2, -3, 1]):
        n = 1 << len(sig)
        a, b, c = (rng.integers(-3, 4, size=(50, n)).astype(float).tolist() for _ in range(3))
        left = geometric_product_n(geometric_product_n(a, b, sig), c, sig)
        right = geometric_product_n(a, geometric_product_n(b, c, sig), sig)
        assert left == right, sig


coefficient = st.one_of(st.just(0.0), st.just(-0.0), st.integers(-3, 3).map(float),
                        st.floats(allow_nan=True, allow_infinity=True))


@st.composite
def product_case(draw):
    dims = draw(st.integers(0, 4))
    n = 1 << dims
    # Mostly well-formed operands, sometimes lengths and signatures that fall out of range.
    len_a = draw(st.sampled_from([n, n, n, max(n - 1, 0), n + 1]))
    len_b = draw(st.sampled_from([len_a, len_a, len_a + 2, max(len_a - 1, 0)]))
    sig_len = draw(st.sampled_from([dims, dims, dims + 1, max(dims - 1, 0)]))
    pairs = draw(st.integers(0, 4))
    a = [draw(st.lists(coefficient, min_size=len_a, max_size=len_a)) for _ in range(pairs)]
    b = [draw(st.lists(coefficient, min_size=len_b, max_size=len_b)) for _ in range(pairs)]
    sig = draw(st.lists(st.sampled_from([1, -1, 0, 1, -1, 2, -5, 127, -128]), min_size=sig_len, max_size=sig_len))
    return a, b, sig


@settings(max_examples=400, deadline=None)
@given(product_case())
def test_geometric_product_follows_the_algorithm(case):
    a, b, sig = case
    try:
        expected = [geometric_product(x, y, sig) for x, y in zip(a, b)]
    except OutOfBounds as failure:
        assert panic_message(lambda: geometric_product_n(a, b, sig)) == str(failure)
        return
    got = geometric_product_n(a, b, sig)
    assert len(got) == len(expected)
    assert all(same_seq(g, e) for g, e in zip(got, expected))


@pytest.mark.parametrize(
    "a, b, sig, message",
    [
        ([[1, 2, 3]], [[1, 1, 1]], [1, 1], "index out of bounds: the len is 3 but the index is 3"),
        ([[1, 0, 0, 0]], [[1, 1]], [1, 1], "index out of bounds: the len is 2 but the index is 2"),
        ([[0, 0, 1, 0]], [[0, 0, 1, 0]], [1], "index out of bounds: the len is 1 but the index is 1"),
        ([[0, 1]], [[0, 1]], [], "index out of bounds: the len is 0 but the index is 0"),
        # Only the lowest failing pair speaks; the pairs before it computed fine but return nothing.
        ([[0, 1, 0, 0]] * 3000 + [[1, 0, 0, 0], [1, 2, 3]], [[0, 0, 1, 0]] * 3000 + [[1], [1, 1, 1]], [1, 1],
         "index out of bounds: the len is 1 but the index is 1"),
    ],
)
def test_out_of_range_ends_in_a_panic_without_result(a, b, sig, message):
    before = [list(x) for x in a]
    assert panic_message(lambda: geometric_product_n(a, b, sig)) == message
    assert a == before


# ---- octonion product ---------------------------------------------------------------------------------


def test_octonion_values():
    e = [unit(k, 8) for k in range(8)]
    assert octonion_mul_n([e[1], e[2], e[7]], [e[2], e[1], e[7]]) == [e[4], unit(4, 8, -1.0), unit(0, 8, -1.0)]
    assert octonion_mul_n([[1] * 8], [[1] * 8]) == [[-6.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0]]
    # Not associative: (e1 e2) e3 = −e6, e1 (e2 e3) = +e6.
    (e12,) = octonion_mul_n([e[1]], [e[2]])
    (e23,) = octonion_mul_n([e[2]], [e[3]])
    assert octonion_mul_n([e12], [e[3]]) == [unit(6, 8, -1.0)]
    assert octonion_mul_n([e[1]], [e23]) == [e[6]]
    # A zero real part never meets an infinity; −0 components come back as +0.
    assert octonion_mul_n([e[1]], [unit(0, 8, INF)]) == [unit(1, 8, INF)]
    b = [-0.0, 1.5, -2.0, 0.0, 3.0, -0.0, 7.0, 1e300]
    (r,) = octonion_mul_n([e[0]], [b])
    assert r == b and all(math.copysign(1.0, v) == 1.0 for v in r if v == 0.0)
    assert octonion_mul_n([], [e[0]]) == [] and len(octonion_mul_n([e[0]] * 3, [e[1]] * 2)) == 2


def test_octonion_items_may_be_any_sequence_of_eight_numbers():
    arr = np.arange(8.0)
    got = octonion_mul_n((range(8), tuple(arr), arr), [[True] + [0] * 7, [1] * 8, arr.tolist()])
    assert got == [list(map(float, range(8))), octonion_product(list(arr), [1.0] * 8),
                   octonion_product(list(arr), list(arr))]


def test_batches_that_change_while_converting_are_read_as_their_iterators_read_them():
    e1 = unit(1, 8)
    batch = [e1]

    class Grow:
        def __float__(self):
            if len(batch) < 3:
                batch.append(e1)
            return 1.0

    batch[0] = [Grow()] + [0.0] * 7
    assert len(octonion_mul_n(batch, [e1] * 5)) == 2

    shrinking = [e1, e1, e1]

    class Shrink:
        def __float__(self):
            del shrinking[1:]
            return 1.0

    shrinking[0] = [Shrink()] + [0.0] * 7
    assert octonion_mul_n(shrinking, [e1] * 5) == [e1]


octonion = st.lists(coefficient, min_size=8, max_size=8)


@settings(max_examples=300, deadline=None)
@given(st.lists(octonion, max_size=5), st.lists(octonion, max_size=5))
def test_octonion_product_follows_the_algorithm(a, b):
    got = octonion_mul_n(a, b)
    assert len(got) == min(len(a), len(b))
    assert all(same_seq(g, octonion_product(x, y)) for g, x, y in zip(got, a, b))


# ---- argument errors ----------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda: geometric_product_n("ab", [[1.0]], [1]), TypeError, "argument 'a_batch': Can't extract `str` to `Vec`"),
        (lambda: geometric_product_n([[1.0]], ["ab"], [1]), TypeError, "argument 'b_batch': Can't extract `str` to `Vec`"),
        (lambda: geometric_product_n([1.0, 2.0], [[1.0]], [1]), TypeError, "argument 'a_batch': 'float' object cannot be converted to 'Sequence'"),
        (lambda: geometric_product_n([[1.0, "x"]], [[1.0]], [1]), TypeError, "argument 'a_batch': must be real number, not str"),
        (lambda: geometric_product_n([[1.0]], None, [1]), TypeError, "argument 'b_batch': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: geometric_product_n([[1.0]], [[1.0]], [1, 1.0]), TypeError, "argument 'signature': 'float' object cannot be interpreted as an integer"),
        (lambda: geometric_product_n([[1.0]], [[1.0]], "11"), TypeError, "argument 'signature': Can't extract `str` to `Vec`"),
        (lambda: geometric_product_n([[1.0]], [[1.0]], [1, None]), TypeError, "argument 'signature': 'NoneType' object cannot be interpreted as an integer"),
        (lambda: geometric_product_n([[1.0]], [[1.0]], [128]), OverflowError, "out of range integral type conversion attempted"),
        (lambda: geometric_product_n([[1.0]], [[1.0]], [1, -129]), OverflowError, "out of range integral type conversion attempted"),
        (lambda: geometric_product_n([[1.0]], [[1.0]]), TypeError, "geometric_product_n() missing 1 required positional argument: 'signature'"),
        (lambda: geometric_product_n([[1.0]], [[1.0]], [1], signature=[1]), TypeError, "geometric_product_n() got multiple values for argument 'signature'"),
        (lambda: octonion_mul_n([[0.0] * 7], [[0.0] * 8]), ValueError, "expected a sequence of length 8 (got 7)"),
        (lambda: octonion_mul_n([[0.0] * 8], [(0.0,) * 9]), ValueError, "expected a sequence of length 8 (got 9)"),
        (lambda: octonion_mul_n([1.0], [[0.0] * 8]), TypeError, "argument 'a_batch': 'float' object cannot be converted to 'Sequence'"),
        (lambda: octonion_mul_n("abcdefgh", [[0.0] * 8]), TypeError, "argument 'a_batch': Can't extract `str` to `Vec`"),
        (lambda: octonion_mul_n(["abcdefgh"], [[0.0] * 8]), TypeError, "argument 'a_batch': must be real number, not str"),
        (lambda: octonion_mul_n([[0.0] * 8], [[0.0] * 7 + [None]]), TypeError, "argument 'b_batch': must be real number, not NoneType"),
        (lambda: octonion_mul_n([[0.0] * 8], {1: 2}), TypeError, "argument 'b_batch': 'dict' object cannot be converted to 'Sequence'"),
        (lambda: octonion_mul_n(a_batch=[]), TypeError, "octonion_mul_n() missing 1 required positional argument: 'b_batch'"),
        (lambda: octonion_mul_n([], [], []), TypeError, "octonion_mul_n() takes 2 positional arguments but 3 were given"),
    ],
)
def test_errors_have_exact_texts(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == message


def test_a_huge_signature_entry_overflows_with_the_interpreters_text():
    with pytest.raises(OverflowError) as info:
        geometric_product_n([[1.0]], [[1.0]], [2**70])
    assert not str(info.value).startswith("argument")


def test_arguments_are_converted_completely_and_in_order():
    # The surplus of the longer batch is ignored but must still convert; a_batch fails before b_batch.
    with pytest.raises(ValueError, match=r"\(got 3\)"):
        octonion_mul_n([[0.0] * 8], [[0.0] * 8, [0.0] * 3])
    with pytest.raises(TypeError, match="argument 'a_batch'"):
        geometric_product_n([[0.0], "x"], None, 1.5)


# ---- threads and leaks --------------------------------------------------------------------------------

DIGEST_SCRIPT = textwrap.dedent(
    """
    import hashlib, random, kiv_core
    rng = random.Random(9)
    def mv(n):
        return [rng.choice([0.0, 0.0, rng.uniform(-2, 2), float("inf"), float("nan")]) for _ in range(n)]
    a = [mv(16) for _ in range(30_000)]
    b = [mv(16) for _ in range(30_000)]
    out = kiv_core.geometric_product_n(a, b, [1, -1, -1, 2])
    out += kiv_core.octonion_mul_n([x[:8] for x in a], [x[8:] for x in b])
    print(hashlib.sha256(repr(out).encode()).hexdigest())
    """
)


def test_results_do_not_depend_on_the_thread_count():
    digests = {n: run_python(DIGEST_SCRIPT, threads=n) for n in (1, 2, 7)}
    assert len(set(digests.values())) == 1, digests


PANIC_SCRIPT = textwrap.dedent(
    """
    import kiv_core
    # Pair 700 fails late in its chunk; every pair from 3000 on fails at once, in later chunks that
    # may well end first. The lowest failing pair must speak, whatever the split.
    a = [[0.0, 1.0, 0.0, 0.0]] * 6000
    b = [[0.0, 0.0, 1.0, 0.0]] * 6000
    a[700], b[700] = [0.0, 0.0, 0.0, 1.0], [0.0, 0.0, 0.0, 1.0]
    a[3000:] = [[1.0, 2.0, 3.0]] * 3000
    b[3000:] = [[1.0, 1.0, 1.0]] * 3000
    try:
        kiv_core.geometric_product_n(a, b, [1])
    except BaseException as exc:
        print(exc.args[0])
    """
)


def test_the_failing_pair_that_speaks_does_not_depend_on_the_thread_count():
    messages = {n: run_python(PANIC_SCRIPT, threads=n) for n in (1, 2, 7)}
    assert set(messages.values()) == {"index out of bounds: the len is 1 but the index is 1"}, messages


# ---- leaks: the central leak check (test_leaks) runs these rows ----

_A = [[0.5, -1.0, 2.0, 0.0]] * 30
_B = [(1.0, 0.0, 3.0, -2.0)] * 30
_SIG = [1, -1]
_BAD_ITEM = [[0.5, object(), 2.0, 0.0]]
_SHORT_B = [[1.0, 1.0]]
_OCT = [[1.0, -2.0, 0.0, 3.0, 0.5, 0.0, 1.0, 2.0]] * 30
_OCT_TUPLES = [tuple(x) for x in _OCT]
_SEVEN = [[0.0] * 7]
LEAK_CASES = [
    ("geometric_product_n", lambda: geometric_product_n(_A, _B, _SIG), (_A, _B, _SIG)),
    ("geometric_product_n-bad-item", lambda: geometric_product_n(_BAD_ITEM, _B, _SIG), (_BAD_ITEM, _B)),
    ("geometric_product_n-float-signature", lambda: geometric_product_n(_A, _B, [1, 1.5]), (_A, _B)),
    ("geometric_product_n-signature-overflow", lambda: geometric_product_n(_A, _B, [300]), (_A, _B)),
    ("geometric_product_n-panic", lambda: geometric_product_n(_A, _SHORT_B, _SIG), (_A, _SHORT_B, _SIG)),
    ("geometric_product_n-missing", lambda: geometric_product_n(_A, _B), (_A, _B)),
    ("octonion_mul_n", lambda: octonion_mul_n(_OCT, _OCT_TUPLES), (_OCT, _OCT_TUPLES)),
    ("octonion_mul_n-length-7", lambda: octonion_mul_n(_OCT, _SEVEN), (_OCT, _SEVEN)),
    ("octonion_mul_n-bad-item", lambda: octonion_mul_n(_OCT, [[0.0] * 7 + ["x"]]), (_OCT,)),
    ("octonion_mul_n-unknown-keyword", lambda: octonion_mul_n(_OCT, _OCT, c=1), (_OCT,)),
]
