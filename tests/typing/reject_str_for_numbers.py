"""A str where numbers are expected: each marked line must be reported with the code after 'E:'."""

import kiv_core

kiv_core.exp_n("123")  # E: arg-type
kiv_core.KIVPoint("1.0", 2.0)  # E: arg-type
