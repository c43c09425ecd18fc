"""kiv: the kiv operator, kiv(x, y) = exp(x) - ln(y), for numpy arrays, data frames and estimators.

The numeric core is the one behind ``kiv_core``; this package carries it to arrays and to data-science
workflows.
"""

from importlib.metadata import PackageNotFoundError as _NotInstalled
from importlib.metadata import version as _version

from kiv._algebra import Gufunc, geometric_product, geometric_product_gufunc, octonion_mul
from kiv._discover import SearchStoppedWarning, discover
from kiv._many import discover_many
from kiv._native import (
    add,
    cos,
    div,
    exp,
    ln,
    math_path,
    mul,
    pow,  # noqa: A004 - the element-wise power of the family
    sin,
    sqrt,
    sub,
    tension,
)
from kiv.formula import Formula, Front

try:
    # The version is written once, in pyproject.toml; the installed distribution's metadata carries it.
    __version__: str = _version("kiv")
except _NotInstalled:  # imported from a build tree (PYTHONPATH=build/...), not installed
    __version__ = "0+unknown"

__all__ = [
    # Element-wise ufuncs.
    "exp",
    "ln",
    "sqrt",
    "sin",
    "cos",
    "add",
    "sub",
    "mul",
    "div",
    "pow",
    "tension",
    "math_path",
    # Algebra.
    "octonion_mul",
    "geometric_product",
    "geometric_product_gufunc",
    "Gufunc",
    # Formula discovery.
    "discover",
    "discover_many",
    "Formula",
    "Front",
    "SearchStoppedWarning",
]
