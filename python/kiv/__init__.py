"""kiv: the kiv operator, kiv(x, y) = exp(x) - ln(y), for numpy arrays, data frames and estimators.

The numeric core is the one behind ``kiv_core``; this package carries it to arrays and to data-science
workflows.
"""

from kiv import _native

__all__: list[str] = []
