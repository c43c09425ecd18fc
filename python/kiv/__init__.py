"""kiv: the kiv operator, kiv(x, y) = exp(x) - ln(y), for numpy arrays, data frames and estimators.

The numeric core is the one behind ``kiv_core``; this package carries it to arrays and to data-science
workflows.
"""

from kiv import _native
from kiv._discover import SearchStoppedWarning, discover
from kiv._many import discover_many
from kiv.formula import Formula

__all__: list[str] = []
__all__ += ["discover", "discover_many", "Formula", "SearchStoppedWarning"]
