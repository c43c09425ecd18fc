# Types of kiv's native module (src/numpy): the ufuncs and gufuncs, and the entries behind discovery.
from collections.abc import Callable
from typing import Final, TypedDict

import numpy as np
import numpy.typing as npt

exp: Final[np.ufunc]
ln: Final[np.ufunc]
sqrt: Final[np.ufunc]
sin: Final[np.ufunc]
cos: Final[np.ufunc]
add: Final[np.ufunc]
sub: Final[np.ufunc]
mul: Final[np.ufunc]
div: Final[np.ufunc]
pow: Final[np.ufunc]  # noqa: A001
tension: Final[np.ufunc]
octonion_mul: Final[np.ufunc]

def _geometric_product_gufunc(signature: tuple[int, ...], /) -> np.ufunc: ...

class SearchDefaults(TypedDict):
    max_complexity: int
    beam_width: int
    precision_goal: float
    use_trig: bool
    use_kiv: bool
    complexity_penalty: float

# The search settings' defaults, read from the core's SearchConfig, in the public order.
search_defaults: Final[SearchDefaults]

# A token: (kind, index, value).
_Token = tuple[int, int, float]

def _discover(
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    max_complexity: int = ...,
    beam_width: int = ...,
    precision_goal: float = ...,
    use_trig: bool = ...,
    use_kiv: bool = ...,
    complexity_penalty: float = ...,
    time_limit: float | None = None,
    progress: Callable[[int, tuple[_Token, ...], float, float, float], object] | None = None,
) -> tuple[tuple[_Token, ...], float, float, float, int, int] | None: ...
def _evaluate(tokens: tuple[_Token, ...], X: npt.ArrayLike, /) -> npt.NDArray[np.float64]: ...
def _render(tokens: tuple[_Token, ...], /) -> str: ...
