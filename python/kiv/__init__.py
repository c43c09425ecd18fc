"""kiv: the kiv operator, kiv(x, y) = exp(x) - ln(y), for numpy arrays, data frames and estimators.

The numeric core is the one behind ``kiv_core``; this package carries it to arrays and to data-science
workflows.
"""

from kiv._algebra import geometric_product, geometric_product_gufunc
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
    octonion_mul,
    pow,  # noqa: A004 - the element-wise power of the family
    sin,
    sqrt,
    sub,
    tension,
)
from kiv.formula import Formula

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
    # Formula discovery.
    "discover",
    "discover_many",
    "Formula",
    "SearchStoppedWarning",
]
