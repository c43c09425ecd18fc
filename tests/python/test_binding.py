"""Argument binding and conversion: accepted inputs, exact error texts, the argument prefix rule."""

import array
import collections
import math
import sys

import numpy as np
import pytest

import kiv_core
from helpers import FloatLike, IndexLike
from kiv_core import add_n, exp_n, ln_n


@pytest.mark.parametrize(
    "xs, expected",
    [
        ((0.0, 1.0), [1.0, 2.718281828459045]),
        (range(2), [1.0, 2.718281828459045]),
        (b"\x00", [1.0]),
        ([True, 0], [2.718281828459045, 1.0]),
        ([FloatLike()], [12.182493960703473]),
        ([IndexLike()], [20.085536923187668]),
        (np.array([0.0, 1.0]), [1.0, 2.718281828459045]),
        (np.array([0.0, 1.0, 2.0])[::2], [1.0, 7.38905609893065]),
        (np.array([0.0, 1.0], dtype=np.float32), [1.0, 2.718281828459045]),
        (np.array([0, 1]), [1.0, 2.718281828459045]),
        (array.array("d", [0.0, 1.0]), [1.0, 2.718281828459045]),
        (memoryview(array.array("d", [1.0])), [2.718281828459045]),
        (collections.deque([0.0]), [1.0]),
        ([], []),
    ],
)
def test_float_vector_accepts_sequences_of_numbers(xs, expected):
    assert exp_n(xs) == expected


def test_minus_one_is_a_valid_float():
    class MinusOne:
        def __float__(self):
            return -1.0

    assert add_n([-1.0, MinusOne()], [0.0, 0.0]) == [-1.0, -1.0]


def _gen():
    yield 1.0


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda: exp_n("123"), TypeError, "argument 'xs': Can't extract `str` to `Vec`"),
        (lambda: ln_n("abc"), TypeError, "argument 'ys': Can't extract `str` to `Vec`"),
        (lambda: exp_n(None), TypeError, "argument 'xs': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: exp_n({1.0: 2}), TypeError, "argument 'xs': 'dict' object cannot be converted to 'Sequence'"),
        (lambda: exp_n({1.0}), TypeError, "argument 'xs': 'set' object cannot be converted to 'Sequence'"),
        (lambda: exp_n(_gen()), TypeError, "argument 'xs': 'generator' object cannot be converted to 'Sequence'"),
        (lambda: exp_n(1.0), TypeError, "argument 'xs': 'float' object cannot be converted to 'Sequence'"),
        (lambda: add_n([1.0], None), TypeError, "argument 'bs': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: add_n([1.0, "x"], [1.0]), TypeError, "argument 'as_': must be real number, not str"),
        (lambda: add_n([1.0], [None]), TypeError, "argument 'bs': must be real number, not NoneType"),
        (lambda: exp_n(np.zeros((2, 2))), TypeError, "argument 'xs': only 0-dimensional arrays"),
        (lambda: exp_n(), TypeError, "exp_n() missing 1 required positional argument: 'xs'"),
        (lambda: add_n(), TypeError, "add_n() missing 2 required positional arguments: 'as_' and 'bs'"),
        (lambda: add_n(bs=[1.0]), TypeError, "add_n() missing 1 required positional argument: 'as_'"),
        (lambda: exp_n([1.0], [2.0]), TypeError, "exp_n() takes 1 positional arguments but 2 were given"),
        (lambda: add_n([1.0], [2.0], [3.0]), TypeError, "add_n() takes 2 positional arguments but 3 were given"),
        (lambda: exp_n([0.0], xs=[0.0]), TypeError, "exp_n() got multiple values for argument 'xs'"),
        (lambda: exp_n(ys=[0.0]), TypeError, "exp_n() got an unexpected keyword argument 'ys'"),
        (lambda: add_n(as_=[1.0], bs=[1.0], cs=[1.0]), TypeError, "add_n() got an unexpected keyword argument 'cs'"),
    ],
)
def test_errors_have_exact_texts(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value).startswith(message)
    if "only 0-dimensional" not in message:
        assert str(info.value) == message


def test_keyword_arguments_bind():
    assert exp_n(xs=[0.0]) == [1.0]
    assert add_n(bs=[1.0], as_=[2.0]) == [3.0]


# A function (vector-call binding) and a constructor (tuple-and-dict binding).
@pytest.mark.parametrize("call, prefix", [(lambda bad: exp_n([bad]), "argument 'xs': "),
                                          (lambda bad: kiv_core.KIVPoint(0.0, bad), "argument 'y': ")])
def test_type_error_gets_the_prefix_and_keeps_its_cause(call, prefix):
    root = KeyError("root")

    class Bad:
        def __float__(self):
            raise TypeError("no float here") from root

    with pytest.raises(TypeError) as info:
        call(Bad())
    assert str(info.value) == prefix + "no float here"
    assert info.value.__cause__ is root


@pytest.mark.parametrize("error", [ValueError("bad value"), OverflowError("too big"), ZeroDivisionError("zero")])
def test_other_errors_pass_unchanged(error):
    class Bad:
        def __float__(self):
            raise error

    with pytest.raises(type(error)) as info:
        add_n([1.0], [Bad()])
    assert info.value is error


def test_float_conversion_of_a_huge_int_overflows_without_prefix():
    with pytest.raises(OverflowError) as info:
        exp_n([10**400])
    assert not str(info.value).startswith("argument")


def test_later_arguments_are_not_examined_after_a_failure():
    touched = []

    class Spy:
        def __float__(self):
            touched.append(1)
            return 1.0

    with pytest.raises(TypeError, match="argument 'as_'"):
        add_n(None, [Spy()])
    assert touched == []


def test_sequences_that_change_while_converting():
    xs = [1.0, 2.0]

    class Grow:
        def __float__(self):
            xs.append(0.0) if len(xs) < 5 else None
            return 0.0

    xs.insert(1, Grow())
    # The appended item is read, as the list iterator would read it.
    assert len(exp_n(xs)) == 4

    ys = [0.0, 0.0, 0.0]

    class Shrink:
        def __float__(self):
            del ys[1:]
            return 0.0

    ys[0] = Shrink()
    assert exp_n(ys) == [1.0]


def test_a_length_that_fails_is_ignored():
    class NoLen:
        def __getitem__(self, i):
            if i < 3:
                return float(i)
            raise IndexError

    # Not a sequence by the interpreter's check? It defines __getitem__ on a class, so it is.
    assert exp_n(NoLen()) == [1.0, 2.718281828459045, 7.38905609893065]


class Overstated:
    """A sequence whose __len__ claims far more items than it yields."""

    def __init__(self, length, item):
        self.length, self.item = length, item

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i < 2:
            return self.item
        raise IndexError


@pytest.mark.parametrize("length", [10**12, 2**62, sys.maxsize])
@pytest.mark.parametrize(
    "call",
    [
        lambda seq: exp_n(seq(1.0)),
        lambda seq: kiv_core.boost_n(seq((0.0, 1.0)), [0.0], 1.0),
        lambda seq: kiv_core.octonion_mul_n(seq([0.0] * 8), []),
        lambda seq: kiv_core.geometric_product_n(seq([1.0]), [], [1]),
        lambda seq: kiv_core.geometric_product_n([], [], seq(1)),
    ],
    ids=["floats", "pairs", "8-arrays", "vectors", "8-bit-ints"],
)
def test_an_announced_length_no_machine_can_hold_is_a_memory_error(call, length):
    # The length only sizes the vector in advance; a claim that cannot be met is the caller's count
    # being too large (as for the interpreter's list()), not an internal failure.
    with pytest.raises(MemoryError):
        call(lambda item: Overstated(length, item))
    with pytest.raises(MemoryError):
        exp_n(range(length))


def test_an_overstated_length_that_fits_is_only_a_hint():
    assert exp_n(Overstated(100_000, 0.0)) == [1.0, 1.0]
    assert kiv_core.boost_n(Overstated(100_000, (0.0, 1.0)), [0.0, 0.0], 1.0) == [(0.0, 1.0), (0.0, 1.0)]


def test_arguments_are_left_unchanged():
    xs = [1.0, 2.0]
    arr = np.array([1.0, 2.0])
    exp_n(xs)
    exp_n(arr)
    assert xs == [1.0, 2.0] and arr.tolist() == [1.0, 2.0]


# ---- buffer fast path: only contiguous 1-d native doubles are copied; everything else is iterated ------

E1 = 2.718281828459045
RAW = np.array([0.0, 1.0]).tobytes()


@pytest.mark.parametrize(
    "xs, expected",
    [
        (np.array([0.0, 1.0], dtype=">f8"), [1.0, E1]),  # byte-swapped: must not be copied raw
        (np.frombuffer(RAW), [1.0, E1]),  # read-only
        (np.array([[0.0, 5.0], [1.0, 5.0]], order="F")[:, 0], [1.0, E1]),  # a contiguous column of F order
        (np.array([[0.0, 5.0], [1.0, 5.0]])[:, 0], [1.0, E1]),  # strided column
        (np.empty(0), []),
        (memoryview(RAW).cast("d"), [1.0, E1]),
        (memoryview(RAW), [math.exp(b) for b in RAW]),  # the bytes of the doubles, read as ints
    ],
    ids=["big-endian", "read-only", "f-order-column", "strided", "empty", "memoryview-cast", "memoryview-bytes"],
)
def test_buffer_objects_convert_like_their_items(xs, expected):
    assert exp_n(xs) == expected


@pytest.mark.parametrize(
    "xs, exc, message",
    [
        (np.array(1.0), TypeError, "argument 'xs': iteration over a 0-d array"),
        (memoryview(RAW * 2).cast("d", shape=[2, 2]), NotImplementedError,
         "multi-dimensional sub-views are not implemented"),
    ],
    ids=["0-d", "2-d-memoryview"],
)
def test_buffers_that_are_not_one_dimensional_fail_as_their_iteration_does(xs, exc, message):
    with pytest.raises(exc) as info:
        exp_n(xs)
    assert type(info.value) is exc and str(info.value) == message


# ---- scalar kinds ----------------------------------------------------------------------------------------


class NumpyLikeBool:
    """A type that claims numpy's bool name and module but has no truth-value slot."""


NumpyLikeBool.__module__, NumpyLikeBool.__name__, NumpyLikeBool.__qualname__ = "numpy", "bool_", "bool_"


def test_bool_kind():
    delta = kiv_core.KIVPoint(0.5, 2.0).minkowski_delta
    assert delta(np.True_, 1.0) == delta(True, 1.0) and delta(np.False_, 1.0) == delta(False, 1.0)
    for value, text in [(1, "'int' object cannot be converted to 'PyBool'"),
                        (NumpyLikeBool(), "object of type 'bool_' does not define a '__bool__' conversion")]:
        with pytest.raises(TypeError) as info:
            delta(value, 1.0)
        assert str(info.value) == "argument 'plus_signature': " + text


def test_unsigned_kind():
    steps = kiv_core.simulate_pulses_n
    assert len(steps(0.0, 1.0, IndexLike())) == 4 and len(steps(0.0, 1.0, True)) == 2
    with pytest.raises(OverflowError) as info:
        steps(0.0, 1.0, -1)
    assert not str(info.value).startswith("argument")


def test_pair_items_may_be_tuple_subclasses():
    Point = collections.namedtuple("Point", "x y")
    assert kiv_core.boost_n([Point(0.0, 1.0)], [0.0], 1.0) == [(0.0, 1.0)]
