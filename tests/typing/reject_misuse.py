"""Other misuse the types catch: each marked line must be reported with the code after 'E:'."""

import kiv_core
from kiv_core import KIVKnot, KIVPair, KIVPoint

kiv_core.boost_n([[0.5, 2.0]], [0.1], 1.0)  # E: list-item
kiv_core.find_formula([[1.0]], [1.0], use_trig=1)  # E: arg-type
kiv_core.find_formula([1.0, 2.0], [1.0, 2.0])  # E: list-item
KIVKnot(KIVPair(0.0, 1.0))  # E: arg-type
KIVPair(1.0, 2.0) + 1.0  # E: operator
point = KIVPoint(0.0, 1.0)
point.x = 2.0  # E: misc
result = kiv_core.find_formula([[1.0, 2.0]], [2.0, 4.0])
result.error  # E: union-attr


class Sub(KIVPoint):  # E: misc
    pass
