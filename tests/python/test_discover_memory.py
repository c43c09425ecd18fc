"""A formula search wider than the memory the process can get raises MemoryError, and the process carries on."""

import os

import pytest

from procs import run_python

SCRIPT = r'''
import ctypes, math, resource, kiv_core

def statm(field):
    return int(open("/proc/self/statm").read().split()[field]) * resource.getpagesize()

class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]

libc = ctypes.CDLL(None)
libc.mallinfo2.restype = MallInfo2

def in_use():
    """Bytes the C allocator has handed out and not taken back, over all its arenas."""
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd

x = [[0.1 + 3.9 * i / 30 for i in range(30)]]
y = [math.sin(3.7 * v) + 0.3 * v ** 3 for v in x[0]]
before = kiv_core.find_formula(x, y, max_complexity=6)
resource.setrlimit(resource.RLIMIT_AS, (statm(0) + (128 << 20), resource.getrlimit(resource.RLIMIT_AS)[1]))
held = []
for _ in range(5):
    try:
        kiv_core.find_formula(x, y, max_complexity=15, beam_width=64000)
    except MemoryError as e:
        message = str(e)
    else:
        raise SystemExit("the search was not refused")
    held.append(in_use())
after = kiv_core.find_formula(x, y, max_complexity=6)
assert (after.formula, after.error, after.complexity) == (before.formula, before.error, before.complexity)
print(max(held) - held[0])
print(message)
'''


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's shadow memory does not fit under an address-space limit")
def test_refused_search_raises_memory_error_and_frees_its_memory():
    grown, message = run_python(SCRIPT, threads=2).split("\n", 1)
    assert message.startswith("formula search: level ")
    assert "MiB more memory, but only " in message
    assert message.endswith("try a smaller beam_width or max_complexity")
    # Repeated refusals hold on to nothing.
    assert int(grown) < 1 << 20
