"""The core's operator table and the rules of its formula text, as typed Python values.

Every operator code, arity and text form in the package comes from here, and here from the native module, so
that an operator is described once, in the core's table.
"""

from __future__ import annotations

import importlib
from dataclasses import dataclass
from types import ModuleType
from typing import Final, Literal

import numpy as np
from numpy.typing import NDArray

# Reached through import_module so that this module types every value it hands on, whether or not a
# checker knows the extension module.
_native: Final[ModuleType] = importlib.import_module("kiv._native")

Token = tuple[int, int, float]
"""One postfix token: (kind, index, value)."""

# Token kinds, as the native module reads them.
CONST: Final = 0
PARAM: Final = 1
VAR: Final = 2
OP: Final = 3

Form = Literal["call", "infix", "prefix", "other"]


@dataclass(frozen=True, slots=True)
class Operator:
    """One row of the core's operator table.

    Attributes
    ----------
    code : int
        The operator's code in tokens (its row).
    name : str
        Its unique short name.
    arity : int
        1 or 2 operands.
    prefix, infix, suffix : str
        Formula text: prefix, first operand, then for a binary operator infix and second operand, suffix.
    latex, python : str
        The core's replacements of ``prefix`` in the LaTeX and Python rewrites of a text ("" when kept).
    offer : str
        When the search offers it: "never", "always", "trig" or "kiv".
    order_sensitive : bool
        Whether op(b, a) differs from op(a, b).
    """

    code: int
    name: str
    arity: int
    prefix: str
    infix: str
    suffix: str
    latex: str
    python: str
    offer: str
    order_sensitive: bool

    @property
    def form(self) -> Form:
        """How the text writes it: "call" (``name(a)``, ``name(a, b)``), "infix" (``(a + b)``), "prefix"
        (``(-a)``, ``(1/a)``), or "other" for a shape the package cannot read back."""
        if self.suffix != ")":
            return "other"
        if self.prefix == self.name + "(" and self.infix == ("" if self.arity == 1 else ", "):
            return "call"
        if self.arity == 2 and self.prefix == "(" and len(self.infix) > 2 and self.infix[0] == self.infix[-1] == " ":
            return "infix"
        if self.arity == 1 and self.prefix.startswith("(") and len(self.prefix) > 1 and not self.infix:
            return "prefix"
        return "other"

    @property
    def symbol(self) -> str:
        """The operator symbol of an infix operator ("+"); the text after "(" of a prefix one ("-")."""
        if self.form == "infix":
            return self.infix.strip()
        if self.form == "prefix":
            return self.prefix[1:]
        return ""


def _rows() -> tuple[Operator, ...]:
    rows = []
    for row in _native._OPERATORS:
        rows.append(Operator(code=int(row["code"]), name=str(row["name"]), arity=int(row["arity"]),
                             prefix=str(row["prefix"]), infix=str(row["infix"]), suffix=str(row["suffix"]),
                             latex=str(row["latex"]), python=str(row["python"]), offer=str(row["offer"]),
                             order_sensitive=bool(row["order_sensitive"])))
    return tuple(rows)


OPERATORS: Final[tuple[Operator, ...]] = _rows()
"""The table's rows in code order."""

BY_NAME: Final[dict[str, Operator]] = {op.name: op for op in OPERATORS}

_RULES: Final[dict[str, float | int]] = dict(_native._TEXT_RULES)

LOG_FLOOR: Final[float] = float(_RULES["log_floor"])
"""Smallest magnitude a divisor or (in kiv) a logarithm's argument may have."""
EXP_THRESHOLD: Final[float] = float(_RULES["exp_threshold"])
"""Above it, kiv's first operand goes through a logarithm before exp (no overflow)."""
PI: Final[float] = float(_RULES["pi"])
"""The constant the text writes as π."""
E: Final[float] = float(_RULES["e"])
"""The constant the text writes as e."""
VAR_LETTER_BASE: Final[int] = int(_RULES["var_letter_base"])
LETTERED_VARS: Final[int] = int(_RULES["lettered_vars"])
"""Variables the core's text can name by a letter of its own (code VAR_LETTER_BASE + k) and read back."""
TEXT_DECIMALS: Final[int] = int(_RULES["text_decimals"])
"""Decimals of a number in the core's text."""


def core_letter(k: int) -> str:
    """The character the core's text names variable ``k`` by."""
    return chr((VAR_LETTER_BASE + k) % 256)


def evaluate(tokens: tuple[Token, ...], X: NDArray[np.float64]) -> NDArray[np.float64]:
    """Values of the tokens on every row of the 2-D X, by the core's evaluation; NaN where a guard trips."""
    out: NDArray[np.float64] = _native._evaluate(tokens, X)
    return out


def render(tokens: tuple[Token, ...]) -> str:
    """The core's own text of the tokens, with its letters for the variables."""
    return str(_native._render(tokens))
