"""Pickle (protocols 2 to 5), copy and deepcopy of the four classes, tampered states, and worker processes."""

import concurrent.futures
import copy
import multiprocessing
import pickle
import struct

import pytest

import kiv_core
from kiv_core import KIVKnot, KIVPair, KIVPoint, PySearchResult, find_formula
from leaks import assert_no_leak


def nan(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def bits(x):
    return struct.pack("<d", x)


SPECIAL = [-0.0, float("inf"), -float("inf"), nan(0x7FF8000000000123), nan(0xFFF8000000000456), 5e-324, 1e308]


def fields(o):
    """The stored state of o, as comparable bytes (floats bit for bit)."""
    if isinstance(o, KIVPoint):
        return bits(o.x), bits(o.y)
    if isinstance(o, KIVPair):
        return bits(o.real), bits(o.imag)
    if isinstance(o, KIVKnot):
        return fields(o.point), o.flip_count, bits(o.phase)
    return o.formula, [bits(p) for p in o.params], bits(o.error), o.complexity


FOUND = find_formula([[1.0, 2.0, 3.0]], [1.0, 2.0, 3.0])
REBUILT = kiv_core._search_result("kiv(x, π) + é", [nan(0x7FF8000000000123), -0.0], float("inf"), 2**64 - 1)
SAMPLES = [
    *(KIVPoint(v, SPECIAL[-1 - i]) for i, v in enumerate(SPECIAL)),
    *(KIVPair(v, -v) for v in SPECIAL),
    KIVKnot(KIVPoint(-0.0, nan(0x7FF8000000000123)), -(2**63), -1.0),
    KIVKnot(KIVPoint(1.5, 2.5), 2**63 - 1, nan(0xFFF8000000000456)),
    KIVKnot(KIVPoint(0.0, 1.0), 0, -0.0).flip(),
    FOUND,
    find_formula([[]], [1.0, 2.0]),  # error -0.0
    REBUILT,
]

ROUND_TRIPS = {
    **{f"pickle-{p}": (lambda o, p=p: pickle.loads(pickle.dumps(o, protocol=p))) for p in range(2, 6)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


@pytest.mark.parametrize("trip", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
@pytest.mark.parametrize("obj", SAMPLES, ids=lambda o: type(o).__name__)
def test_round_trip_is_bit_exact(obj, trip):
    back = trip(obj)
    assert type(back) is type(obj)
    assert fields(back) == fields(obj)
    assert repr(back) == repr(obj)


def test_reductions_name_the_class_and_its_constructor_arguments():
    knot = KIVKnot(KIVPoint(1.0, 2.0), 7, 1.25)
    cls, (point, n, theta) = knot.__reduce__()
    assert cls is KIVKnot and (point.x, point.y, n, theta) == (1.0, 2.0, 7, 1.25)
    assert KIVPoint(1.0, 2.0).__reduce__() == (KIVPoint, (1.0, 2.0))
    assert KIVPair(3.0, 4.0).__reduce__() == (KIVPair, (3.0, 4.0))
    rebuild, state = REBUILT.__reduce__()
    assert rebuild is kiv_core._search_result and state[0] == "kiv(x, π) + é"


def test_the_reconstructor_is_private_and_the_class_still_has_no_constructor():
    assert "_search_result" not in kiv_core.__all__ and len(kiv_core.__all__) == 23
    with pytest.raises(TypeError, match="^No constructor defined for PySearchResult$"):
        PySearchResult()


# Unpickling and copying churn bounded caches of the interpreter (about 512 small blocks, 48 to 56 KB under
# the sanitizer build's plain malloc), so the leak checks run long enough for a leak of one object per call
# to stand out above that.
LEAK_SLACK = 96 * 1024


class Tampered:
    """Pickles as a call of rebuild(*args): what a tampered pickle of a class would hold."""

    def __init__(self, rebuild, args):
        self.reduction = (rebuild, args)

    def __reduce__(self):
        return self.reduction


TAMPERED = [
    (kiv_core._search_result, ("x", [], 0.0, -1), ValueError),
    (kiv_core._search_result, ("x", [], 0.0, 2**64), ValueError),
    (kiv_core._search_result, ("x", [], 0.0, 1.0), TypeError),
    (kiv_core._search_result, (b"x", [], 0.0, 1), TypeError),
    (kiv_core._search_result, ("x", ["a"], 0.0, 1), TypeError),
    (kiv_core._search_result, ("x", 3.0, 0.0, 1), TypeError),
    (kiv_core._search_result, ("x", [], "e", 1), TypeError),
    (kiv_core._search_result, ("x", [], 0.0), TypeError),
    (kiv_core._search_result, ("x", [], 0.0, 1, 2), TypeError),
    (kiv_core._search_result, ("\ud800", [], 0.0, 1), ValueError),
    (KIVPoint, ("x", 1.0), TypeError),
    (KIVPair, (1.0,), TypeError),
    (KIVKnot, ((1.0, 2.0), 0, 0.0), TypeError),
    (KIVKnot, (KIVPoint(1.0, 2.0), 2**63, 0.0), OverflowError),
]


@pytest.mark.parametrize("rebuild, args, error", TAMPERED)
def test_a_tampered_pickle_is_a_clear_error_and_leaks_nothing(rebuild, args, error):
    data = pickle.dumps(Tampered(rebuild, args))
    with pytest.raises(error):
        pickle.loads(data)
    assert_no_leak(lambda: pickle.loads(data), repeat=4000, slack_bytes=LEAK_SLACK)


def test_round_trips_leak_nothing():
    assert_no_leak(lambda: [copy.deepcopy(o) for o in SAMPLES], watched=SAMPLES, repeat=6000, slack_bytes=LEAK_SLACK)


# The module's worker pool is built for fork (a child starts a pool of its own), so the interpreter's
# warning about forking a multi-threaded process does not apply.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
@pytest.mark.parametrize("method", ["spawn", "fork"])
def test_worker_processes_take_and_return_the_classes(method):
    context = multiprocessing.get_context(method)
    with concurrent.futures.ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
        found = pool.submit(find_formula, [[1.0, 2.0, 3.0]], [1.0, 2.0, 3.0]).result(timeout=120)
        point = KIVPoint(0.5, -0.0)
        moved = pool.submit(KIVPoint.mirror_pulse, point).result(timeout=120)
        same = pool.submit(copy.copy, point).result(timeout=120)
    assert repr(found) == repr(FOUND) and fields(found) == fields(FOUND)
    assert fields(moved) == fields(point.mirror_pulse())
    assert fields(same) == fields(point)
