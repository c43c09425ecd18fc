"""Misuse of kiv's array side that the types catch: each marked line must be reported with the code after
'E:'."""

import numpy as np

import kiv

a = np.eye(4)
kiv.geometric_product(a, a, "111")  # E: arg-type
kiv.geometric_product(a, a, [1.0, 1.0])  # E: list-item
kiv.octonion_mul(a, a, a)  # E: call-overload
kiv.geometric_product_gufunc(2)  # E: arg-type
kiv.discover_many([(a, a[0])], client=None)["first"]  # E: call-overload
kiv.__version__ + 1  # E: operator
