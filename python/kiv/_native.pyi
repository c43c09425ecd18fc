# Types of the kiv package's native module (numpy ufuncs and gufuncs over the core, and the private entries
# that kiv's Python sources call).
from collections.abc import Callable, Sequence
from typing import Literal, SupportsIndex, TypeAlias, TypedDict, type_check_only

import numpy as np
from numpy.typing import NDArray

# Element-wise ufuncs with one float64 loop ("d->d" or "dd->d").
exp: np.ufunc
ln: np.ufunc
sqrt: np.ufunc
sin: np.ufunc
cos: np.ufunc
add: np.ufunc
sub: np.ufunc
mul: np.ufunc
div: np.ufunc
pow: np.ufunc
tension: np.ufunc

# The gufunc (8),(8)->(8); kiv.octonion_mul wraps it.
octonion_mul: np.ufunc

# A formula token as the native side reads and writes it: (kind, index, value), kind 0 a constant, 1 a free
# parameter, 2 variable number index, 3 operator number index (the package's codes).
_Token: TypeAlias = tuple[int, int, float]
# A front entry: tokens, score, rmse, r2, complexity (the token count).
_FrontEntry: TypeAlias = tuple[tuple[_Token, ...], float, float, float, int]

def _geometric_product_gufunc(signature: Sequence[SupportsIndex], /) -> np.ufunc: ...

# The core's operator table, one dict per row in code order (code, name, arity, prefix, infix, suffix, latex,
# python, offer, order_sensitive), and the constants and rules of its formula text; kiv._ops types them.
_OPERATORS: tuple[dict[str, int | str | bool], ...]
_TEXT_RULES: dict[str, float | int]

# The type of search_defaults (a plain dict at run time).
@type_check_only
class SearchDefaults(TypedDict):
    max_complexity: int
    beam_width: int
    precision_goal: float
    use_trig: bool
    use_kiv: bool
    complexity_penalty: float

# The search settings' defaults, read from the core's SearchConfig, in their public order.
search_defaults: SearchDefaults

# The settings by keyword only, each defaulting to search_defaults; precision_goal relative to rms(y).
# constants: None, "scale" (each candidate as its best map a + b*f) or "fit" (as "scale", then free constants
# inside the formula fitted to the rows for the promising candidates).
# Returns (tokens, score, rmse, r2, stop reason, levels fitted in full, front), or None; front holds
# (tokens, score, rmse, r2, complexity) per token count, ascending, with strictly falling rmse.
def _discover(
    X: NDArray[np.float64],
    y: NDArray[np.float64],
    *,
    max_complexity: int = ...,
    beam_width: int = ...,
    precision_goal: float = ...,
    use_trig: bool = ...,
    use_kiv: bool = ...,
    complexity_penalty: float = ...,
    time_limit: float | None = None,
    progress: Callable[[int, tuple[_Token, ...], float, float, float], object] | None = None,
    constants: Literal["scale", "fit"] | None = None,
) -> tuple[tuple[_Token, ...], float, float, float, int, int, tuple[_FrontEntry, ...]] | None: ...
def _evaluate(tokens: Sequence[_Token], X: NDArray[np.float64]) -> NDArray[np.float64]: ...
def math_path() -> str: ...

# (path, reason it was chosen or another turned down, inputs checked, seconds the choice took).
def _math_check() -> tuple[str, str, int, float]: ...
def _render(tokens: Sequence[_Token]) -> str: ...
