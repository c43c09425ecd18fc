"""Feature names: which are accepted, how the formula text shows them, and the Python identifiers they become.

Names are compared in NFKC form, as Python compares identifiers: "x" and "ｘ" are one name to Python, so a
formula cannot have both, and "ｎｐ" is reserved as "np" is.
"""

from __future__ import annotations

import keyword
import numbers
import re
import unicodedata
from collections.abc import Iterable
from typing import Final

from kiv._ops import LETTERED_VARS, OPERATORS

__all__ = ["MAX_FEATURES", "check_feature_names", "default_feature_names", "display_name", "python_identifiers"]

MAX_FEATURES: Final[int] = LETTERED_VARS
"""Variables the core's own text can name and read back (kiv_core's search results)."""

# Words the formula text reads as something other than a feature: constants and functions. A feature whose
# name (in NFKC form) is one of them is shown between backticks.
_ALIASES: Final[dict[str, str]] = {"log": "ln"}
_TEXT_WORDS: Final[frozenset[str]] = frozenset(
    {"e", "π", "pi", "inf", "infinity", "nan", *_ALIASES, *(op.name for op in OPERATORS if op.form == "call")})

# Identifiers the exported source (its default function name f included) or SymPy uses for itself, besides
# the keywords and the "_kiv" prefix of the exported helpers.
_PYTHON_WORDS: Final[frozenset[str]] = frozenset(
    {"np", "X", "f", "math", "recip", "div", *_TEXT_WORDS, *(op.name for op in OPERATORS)})


def nfkc(name: str) -> str:
    """The NFKC form of a name: the form Python compares identifiers in."""
    return unicodedata.normalize("NFKC", name)


def default_feature_names(n: int) -> tuple[str, ...]:
    """Names of ``n`` features when none are given: x0, x1, ... (never ``y``, the target's usual name).

    Parameters
    ----------
    n : int
        Number of features.

    Returns
    -------
    tuple of str
    """
    return tuple(f"x{i}" for i in range(n))


def check_feature_names(names: Iterable[object], n: int | None = None,
                        argument: str = "feature_names") -> tuple[str, ...]:
    """The names as a tuple of str, or ValueError naming the argument and the problem.

    Any string is a name (column labels such as ``'sepal length (cm)'`` included), and so is an integer,
    taken as its decimal text. (A DataFrame whose labels are not strings never brings them here: it is read
    by position, and its features take the default names.) Refused: a single string for the sequence,
    other types, empty names, names with control characters, and two names equal in NFKC form.

    Parameters
    ----------
    names : iterable of str or int
        The names, one per feature.
    n : int, optional
        The number of features they must name.
    argument : str
        The argument the error messages name.

    Returns
    -------
    tuple of str

    Raises
    ------
    ValueError
        When the names cannot name the features.
    """
    if isinstance(names, (str, bytes)):
        raise ValueError(f"{argument}: expected a sequence of names, got the single string {names!r}")
    try:
        given = tuple(names)
    except TypeError:
        raise ValueError(f"{argument}: expected a sequence of names, got {type(names).__name__}") from None
    if n is not None and len(given) != n:
        raise ValueError(f"{argument}: {len(given)} names given for {n} features")
    out = []
    seen: dict[str, str] = {}
    for item in given:
        if isinstance(item, str):
            name = item
        elif isinstance(item, numbers.Integral) and not isinstance(item, bool):
            name = str(int(item))
        else:
            raise ValueError(f"{argument}: {item!r} is not a string")
        if not name:
            raise ValueError(f"{argument}: a name is empty")
        if any(unicodedata.category(c) == "Cc" for c in name):
            raise ValueError(f"{argument}: {name!r} contains a control character")
        key = nfkc(name)
        if key in seen:
            same = "appears more than once" if seen[key] == name else f"is the same name as {seen[key]!r} to Python"
            raise ValueError(f"{argument}: {name!r} {same}")
        seen[key] = name
        out.append(name)
    return tuple(out)


def is_plain(name: str) -> bool:
    """Whether the formula text shows the name as it is: an identifier that is no word of the text."""
    return name.isidentifier() and nfkc(name) not in _TEXT_WORDS and nfkc(name).casefold() not in _TEXT_WORDS


def display_name(name: str) -> str:
    """The name as the formula text shows it: as given when plain, else between backticks (a backtick in it
    doubled), so that any name reads back."""
    if is_plain(name):
        return name
    return "`" + name.replace("`", "``") + "`"


def _identifier(name: str) -> str:
    """A valid, unreserved identifier made from one name, before clashes between names are settled."""
    key = nfkc(name)
    # Characters that cannot continue an identifier become "_", runs of them one; leading and trailing ones go.
    chars = [c if ("_" + c).isidentifier() else "_" for c in key]
    base = re.sub(r"_+", "_", "".join(chars)).strip("_") if not key.isidentifier() else key
    if not base or not base.isidentifier():  # empty, or starts with a digit
        base = "x_" + base
    base = nfkc(base)
    if keyword.iskeyword(base) or base in _PYTHON_WORDS or base.startswith("_kiv"):
        base += "_"
    return base


def python_identifiers(names: tuple[str, ...]) -> tuple[str, ...]:
    """One distinct Python identifier per name, deterministically: the name itself when it is a valid
    identifier that neither the exported source nor SymPy uses, else a cleaned form of it; a clash with an
    earlier name's identifier takes the first free suffix _2, _3, ....

    Parameters
    ----------
    names : tuple of str
        Checked feature names.

    Returns
    -------
    tuple of str
        In NFKC form, so that Python sees exactly these names.
    """
    idents = [_identifier(name) for name in names]
    # A name that is itself a usable identifier keeps it; the others give way.
    taken = {ident for name, ident in zip(names, idents) if ident == name}
    out: list[str] = []
    for name, ident in zip(names, idents):
        if ident != name:
            base, k = ident, 2
            while ident in taken:
                ident = f"{base}_{k}"
                k += 1
            taken.add(ident)
        out.append(ident)
    return tuple(out)
