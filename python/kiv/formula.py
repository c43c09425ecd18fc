"""Formula: a discovered formula as a value that can be evaluated, printed, exported and read back.

Operators, their codes, arities and text forms come from the core's operator table (``kiv._ops``); this
module adds only what the table cannot say: the numpy and SymPy forms of guarded operators and a few
typographic LaTeX forms.
"""

from __future__ import annotations

import importlib
import keyword
import math
import numbers
import operator
import re
import struct
from collections.abc import Callable, Iterable, Mapping, Sequence
from types import ModuleType
from typing import Any, Final, NoReturn, TypeVar, cast

import numpy as np
from numpy.typing import ArrayLike, NDArray

from kiv import _ops
from kiv._names import (
    MAX_FEATURES,
    check_feature_names,
    default_feature_names,
    display_name,
    nfkc,
    python_identifiers,
)
from kiv._ops import CONST, E, OP, PARAM, PI, VAR, Operator, Token
from kiv._validate import as_matrix

# The input checks are untyped; this is the type they have.
_as_matrix: Final[Callable[..., NDArray[np.float64]]] = as_matrix

__all__ = ["Formula", "Front", "MAX_FEATURES", "default_feature_names", "check_feature_names"]

_T = TypeVar("_T")

# Postfix tokens as a tree: ("c", v) constant, ("p", i, v) parameter, ("v", i) variable, ("o", code, *operands).
Node = tuple[Any, ...]

SettingValue = None | bool | int | float | str


def _same(a: float, b: float) -> bool:
    """Bitwise equality of floats (so -0.0 != 0.0 and a NaN equals itself)."""
    return struct.pack("<d", a) == struct.pack("<d", b)


def _op(code: int) -> Operator:
    return _ops.OPERATORS[code]


def _check_tokens(tokens: Iterable[Sequence[object]], n_features: int) -> tuple[Token, ...]:
    """Tokens as a tuple of (kind, index, value) triples of exact types; ValueError if they are malformed."""
    out: list[Token] = []
    depth = 0
    try:
        items = list(tokens)
    except TypeError:
        raise ValueError("tokens: expected a sequence of (kind, index, value) triples") from None
    for t in items:
        try:
            kind_, index_, value_ = t
            kind, index, value = operator.index(kind_), operator.index(index_), float(value_)  # type: ignore[arg-type]
        except (TypeError, ValueError):
            raise ValueError(f"tokens: {t!r} is not a (kind, index, value) triple of numbers") from None
        if kind == VAR:
            if not 0 <= index < n_features:
                raise ValueError(f"tokens: variable {index} is beyond the {n_features} features")
            depth += 1
        elif kind in (CONST, PARAM):
            if index < 0:
                raise ValueError("tokens: negative parameter index")
            depth += 1
        elif kind == OP:
            if not 0 <= index < len(_ops.OPERATORS):
                raise ValueError(f"tokens: unknown operator code {index}")
            need = _op(index).arity
            if depth < need:
                raise ValueError("tokens: an operator lacks its operand")
            depth -= need - 1
        else:
            raise ValueError(f"tokens: unknown token kind {kind}")
        out.append((kind, index, value if kind in (CONST, PARAM) else 0.0))
    if depth != 1:
        raise ValueError("tokens: the sequence does not leave exactly one value")
    return tuple(out)


def _tree(tokens: tuple[Token, ...]) -> Node:
    """Postfix tokens as nested tuples."""
    stack: list[Node] = []
    for kind, index, value in tokens:
        if kind == CONST:
            stack.append(("c", value))
        elif kind == PARAM:
            stack.append(("p", index, value))
        elif kind == VAR:
            stack.append(("v", index))
        else:
            k = _op(index).arity
            args = stack[-k:]
            del stack[-k:]
            stack.append(("o", index, *args))
    return stack[0]


def _tokens(tree: Node) -> tuple[Token, ...]:
    """The postfix tokens of a tree, without recursion."""
    out: list[Token] = []
    work: list[tuple[Node, bool]] = [(tree, False)]
    while work:
        n, done = work.pop()
        if n[0] == "c":
            out.append((CONST, 0, n[1]))
        elif n[0] == "p":
            out.append((PARAM, n[1], n[2]))
        elif n[0] == "v":
            out.append((VAR, n[1], 0.0))
        elif done:
            out.append((OP, n[1], 0.0))
        else:
            work.append((n, True))
            work.extend((child, False) for child in reversed(n[2:]))
    return tuple(out)


def _fold(node: Node, leaf: Callable[[Node], _T], op: Callable[[Operator, list[_T]], _T]) -> _T:
    """Bottom-up fold without recursion limits: leaf(node) for leaves, op(operator, operand results) else.
    Linear in the size of the tree."""
    out: list[_T] = []
    work: list[tuple[Node, bool]] = [(node, False)]
    while work:
        n, done = work.pop()
        if n[0] != "o":
            out.append(leaf(n))
        elif done:
            k = len(n) - 2
            args = out[-k:]
            del out[-k:]
            out.append(op(_op(n[1]), args))
        else:
            work.append((n, True))
            work.extend((child, False) for child in reversed(n[2:]))
    return out[0]


# ---- numbers -----------------------------------------------------------------------------------------------

def _number_text(v: float) -> str:
    """A constant as the formula text shows it: the core's four fixed decimals where they show at least four
    significant digits (0 and magnitudes from 0.1 to 1e6), else four decimals in scientific notation."""
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    d = _ops.TEXT_DECIMALS
    if v == 0 or 0.1 <= abs(v) < 1e6:
        return f"{v:.{d}f}"
    text = f"{v:.{d}e}"
    # Near the largest double the rounded text would read back as infinity.
    return text if math.isfinite(float(text)) else repr(v)


def _full_number(v: float) -> str:
    """A finite constant at full precision: the shortest text that reads back as the same double."""
    if v == int(v) and abs(v) < 2**53:
        return str(int(v)) if not (v == 0 and math.copysign(1.0, v) < 0) else "-0.0"
    return repr(v)


# ---- reading formula text ----------------------------------------------------------------------------------

_DIGITS = r"[0-9](?:_?[0-9])*"
_NUMBER: Final = re.compile(rf"(?:{_DIGITS}(?:\.(?:{_DIGITS})?)?|\.{_DIGITS})(?:[eE][-+]?{_DIGITS})?")
_IDENT: Final = re.compile(r"[^\W\d]\w*")
_PARAM_NAME: Final = re.compile(r"c([0-9]+)")
# Precedence of the infix symbols, as in Python; unary minus binds tighter, powers tighter still.
_PRECEDENCE: Final[dict[str, int]] = {"+": 1, "-": 1, "*": 2, "/": 2, "%": 2, "//": 2, "@": 2}
_UNARY_PRECEDENCE: Final = 3
_CALLS: Final[dict[str, Operator]] = {op.name: op for op in _ops.OPERATORS if op.form == "call"}
_CALLS.update({"log": _ops.BY_NAME["ln"]})
_INFIX: Final[dict[str, Operator]] = {op.symbol: op for op in _ops.OPERATORS if op.form == "infix"}
_PREFIX: Final[tuple[Operator, ...]] = tuple(op for op in _ops.OPERATORS if op.form == "prefix")
_WORDS: Final[dict[str, float]] = {"e": E, "π": PI, "pi": PI, "inf": math.inf, "infinity": math.inf,
                                   "nan": math.nan}
# An integer power up to this is read as repeated multiplication.
_MAX_INT_POWER: Final = 64


def _node(name: str, *args: Node) -> Node:
    return ("o", _ops.BY_NAME[name].code, *args)


def _power(base: Node, exponent: Node) -> Node:
    """base ** exponent in the operators of the table: an integer exponent (literal, |n| <= 64) as repeated
    multiplication, 0.5 as sqrt, anything else as exp(exponent * ln(base)) (defined for a positive base)."""
    if exponent[:2] == ("o", _ops.BY_NAME["neg"].code) and exponent[2][0] == "c":
        exponent = ("c", -exponent[2][1])  # x ** (-2), where the parentheses make a negation
    if exponent[0] == "c":
        n = exponent[1]
        if math.isfinite(n) and n == int(n) and abs(n) <= _MAX_INT_POWER:
            k = abs(int(n))
            if k == 0:
                return ("c", 1.0)
            out = base
            for _ in range(k - 1):
                out = _node("mul", out, base)
            return _node("recip", out) if n < 0 else out
        if abs(n) == 0.5:
            root = _node("sqrt", base)
            return _node("recip", root) if n < 0 else root
    return _node("exp", _node("mul", exponent, _node("ln", base)))


class _Reader:
    """Precedence climbing over a formula text. Variables are feature names (bare identifiers compared in
    NFKC form, or any name between backticks) or, for the core's own text, its single letters."""

    def __init__(self, text: str, names: Mapping[str, int] | None = None,
                 letters: Mapping[str, int] | None = None) -> None:
        self.s = text
        self.i = 0
        self.names = names or {}
        self.letters = letters

    def fail(self, what: str, at: int | None = None) -> NoReturn:
        at = self.i if at is None else at
        raise ValueError(f"text: cannot read the formula at position {at} ({self.s[at:at + 12]!r}): {what}")

    def ws(self) -> None:
        # ASCII white space only: the core's letters include characters that Unicode counts as space.
        while self.i < len(self.s) and self.s[self.i] in " \t\n\r\f\v":
            self.i += 1

    def at(self, lit: str) -> bool:
        self.ws()
        return self.s.startswith(lit, self.i)

    def expect(self, lit: str) -> None:
        if not self.at(lit):
            self.fail(f"expected {lit!r}")
        self.i += len(lit)

    def read(self) -> Node:
        tree = self.expr(0)
        self.ws()
        if self.i != len(self.s):
            self.fail("unexpected text after the formula")
        return tree

    def infix(self) -> str | None:
        """The infix symbol at the current position (the longest that matches), if any."""
        self.ws()
        best = None
        for sym in _INFIX:
            if self.s.startswith(sym, self.i) and not self.s.startswith("**", self.i) and (
                    best is None or len(sym) > len(best)):
                best = sym
        return best

    def expr(self, min_prec: int, left: Node | None = None) -> Node:
        if left is None:
            left = self.unary()
        while True:
            sym = self.infix()
            if sym is None or _PRECEDENCE.get(sym, 1) < min_prec:
                return left
            prec = _PRECEDENCE.get(sym, 1)
            self.i += len(sym)
            right = self.expr(prec + 1)
            left = ("o", _INFIX[sym].code, left, right)

    def unary(self) -> Node:
        self.ws()
        if self.at("-"):
            self.i += 1
            return self.negate(self.unary())
        if self.at("+"):
            self.i += 1
            return self.unary()
        return self.power()

    @staticmethod
    def negate(operand: Node) -> Node:
        # A minus before a number is part of the number, as the text writes negative constants.
        if operand[0] == "c":
            return ("c", -operand[1])
        return _node("neg", operand)

    def power(self) -> Node:
        base = self.primary()
        for sym in ("**", "^"):
            if self.at(sym):
                self.i += len(sym)
                return _power(base, self.unary())
        return base

    def primary(self) -> Node:
        self.ws()
        s, i = self.s, self.i
        if i >= len(s):
            return self.fail("the formula ends where an operand should be")
        if s[i] == "(":
            return self.group()
        if s[i] == "`":
            return self.quoted()
        if self.letters is not None and s[i] in self.letters:
            self.i += 1
            return ("v", self.letters[s[i]])
        m = _NUMBER.match(s, i)
        if m:
            v = float(m.group().replace("_", ""))
            if math.isinf(v):
                self.fail(f"the number {m.group()!r} is too large for a float")
            self.i = m.end()
            return ("c", v)
        m = _IDENT.match(s, i)
        if m:
            return self.word(m.group())
        return self.fail("expected a number, a variable, a function or '('")

    def group(self) -> Node:
        start = self.i
        # The text's own prefix operators, "(-a)" and "(1/a)": the operator when the operand is all that
        # stands before the closing parenthesis, else the same characters read as ordinary maths.
        for op in _PREFIX:
            if self.s.startswith(op.prefix, start):
                self.i = start + len(op.prefix)
                operand = self.unary()
                if self.at(op.suffix):
                    self.i += len(op.suffix)
                    return ("o", op.code, operand)
                left = self.ordinary(op, operand, start)
                tree = self.expr(0, left)
                self.expect(")")
                return tree
        self.i = start + 1
        tree = self.expr(0)
        self.expect(")")
        return tree

    def ordinary(self, op: Operator, operand: Node, start: int) -> Node:
        """The prefix text of op (after its "(") followed by operand, read as ordinary maths: a unary minus,
        or a number and an infix symbol."""
        text = op.symbol
        if text == "-":
            return self.negate(operand)
        m = _NUMBER.match(text)
        sym = text[m.end():].strip() if m else ""
        if not m or sym not in _INFIX:
            return self.fail(f"cannot read {op.prefix!r} here", start)
        right = self.expr(_PRECEDENCE.get(sym, 1) + 1, operand)
        return ("o", _INFIX[sym].code, ("c", float(m.group())), right)

    def quoted(self) -> Node:
        start = self.i
        j = self.i + 1
        parts = []
        while True:
            k = self.s.find("`", j)
            if k < 0:
                return self.fail("a name in backticks is not closed", start)
            parts.append(self.s[j:k])
            if self.s.startswith("``", k):
                parts.append("`")
                j = k + 2
                continue
            self.i = k + 1
            break
        name = "".join(parts)
        index = self.names.get(nfkc(name))
        if index is None:
            return self.fail(f"{name!r} is not one of the feature names", start)
        return ("v", index)

    def word(self, word: str) -> Node:
        start = self.i
        self.i += len(word)
        if self.at("("):
            self.i += 1
            m = _PARAM_NAME.fullmatch(word)
            if m:
                value = self.unary()
                if value[0] != "c":
                    self.fail("expected the parameter's value")
                self.expect(")")
                return ("p", int(m.group(1)), value[1])
            op = _CALLS.get(nfkc(word))
            if op is None:
                return self.fail(f"{word!r} is not a function of the formula language", start)
            args = [self.expr(0)]
            while self.at(","):
                self.i += 1
                args.append(self.expr(0))
            self.expect(")")
            if len(args) != op.arity:
                self.fail(f"{word} takes {op.arity} argument(s), {len(args)} given", start)
            return ("o", op.code, *args)
        key = nfkc(word)
        if key in _WORDS or key.casefold() in ("inf", "infinity", "nan"):
            return ("c", _WORDS.get(key, _WORDS.get(key.casefold(), math.nan)))
        index = self.names.get(key)
        if index is None:
            return self.fail(f"{word!r} is not one of the feature names", start)
        return ("v", index)


def _read(text: object, names: Mapping[str, int] | None = None, letters: Mapping[str, int] | None = None
          ) -> tuple[Token, ...]:
    if not isinstance(text, str):
        raise ValueError(f"text: expected a str, got {type(text).__name__}")
    try:
        return _tokens(_Reader(text, names=names, letters=letters).read())
    except RecursionError:
        raise ValueError("text: the formula nests too deeply to read") from None


def _core_letters() -> dict[str, int]:
    return {_ops.core_letter(k): k for k in range(MAX_FEATURES)}


# ---- text and LaTeX -----------------------------------------------------------------------------------------

def _text(tokens: tuple[Token, ...], names: tuple[str, ...]) -> str:
    shown = [display_name(n) for n in names]

    def leaf(n: Node) -> str:
        if n[0] == "c":
            v = n[1]
            if _same(v, PI):
                return "π"
            if _same(v, E):
                return "e"
            return _number_text(v)
        if n[0] == "p":
            return f"c{n[1]}({_number_text(n[2])})"
        return shown[n[1]]

    def op(o: Operator, a: list[str]) -> str:
        return o.prefix + a[0] + (o.infix + a[1] if o.arity == 2 else "") + o.suffix

    return _fold(_tree(tokens), leaf, op)


_LATEX_ESCAPES: Final = {"\\": r"\backslash{}", "{": r"\{", "}": r"\}", "_": r"\_", "#": r"\#", "$": r"\$",
                         "%": r"\%", "&": r"\&", "~": r"\sim{}", "^": r"\hat{}", " ": r"\ "}


def _latex_name(name: str) -> str:
    """A feature name in LaTeX as given: one letter in italics, anything longer upright, special characters
    escaped."""
    if len(name) == 1 and name.isalpha():
        return name
    return r"\mathrm{" + "".join(_LATEX_ESCAPES.get(c, c) for c in name) + "}"


def _latex_number(v: float) -> str:
    if _same(v, PI):
        return r"\pi"
    if _same(v, E):
        return "e"
    if math.isnan(v):
        return r"\mathrm{NaN}"
    if math.isinf(v):
        return r"\infty" if v > 0 else r"-\infty"
    text = _full_number(v)
    if "e" in text:
        mantissa, exp = text.split("e")
        return rf"{mantissa} \cdot 10^{{{int(exp)}}}"
    return text


# Typographic forms the table's rewrites cannot give.
_LATEX_FORMS: Final[dict[str, Callable[[list[str]], str]]] = {
    "recip": lambda a: rf"\frac{{1}}{{{a[0]}}}",
    "div": lambda a: rf"\frac{{{a[0]}}}{{{a[1]}}}",
    "mul": lambda a: rf"\left({a[0]} \cdot {a[1]}\right)",
    "abs": lambda a: rf"\left|{a[0]}\right|",
}


def _latex_op(o: Operator, a: list[str]) -> str:
    form = _LATEX_FORMS.get(o.name)
    if form is not None:
        return form(a)
    if o.form == "call":
        if o.latex.endswith("{"):
            return o.latex + ", ".join(a) + "}"
        head = o.latex[:-1] if o.latex.endswith("(") else rf"\operatorname{{{o.name}}}"
        return head + r"\left(" + ", ".join(a) + r"\right)"
    if o.form == "infix":
        return rf"\left({a[0]} {o.symbol} {a[1]}\right)"
    if o.form == "prefix":
        return rf"\left({o.symbol}{a[0]}\right)"
    return o.prefix + a[0] + (o.infix + a[1] if o.arity == 2 else "") + o.suffix


# ---- numpy forms of the guarded operators (used by to_python's source and by SymPy's numeric forms) -------

def _py_helpers() -> dict[str, str]:
    floor, threshold = repr(_ops.LOG_FLOOR), repr(_ops.EXP_THRESHOLD)
    return {
        "ok": ("def _kiv_ok(v):\n"
               "    # Every operator's result must be finite; otherwise the row has no value.\n"
               "    return np.where(np.isfinite(v), v, np.nan)\n"),
        "recip": ("def _kiv_recip(a):\n"
                  "    a = np.asarray(a, dtype=np.float64)\n"
                  f"    return _kiv_ok(np.where(np.abs(a) < {floor}, np.nan, 1.0 / a))\n"),
        "ln": ("def _kiv_ln(a):\n"
               "    return _kiv_ok(np.where(a <= 0.0, np.nan, np.log(np.where(a <= 0.0, 1.0, a))))\n"),
        "sqrt": ("def _kiv_sqrt(a):\n"
                 "    return _kiv_ok(np.where(a < 0.0, np.nan, np.sqrt(np.where(a < 0.0, 0.0, a))))\n"),
        "div": ("def _kiv_div(a, b):\n"
                "    b = np.asarray(b, dtype=np.float64)\n"
                f"    return _kiv_ok(np.where(np.abs(b) < {floor}, np.nan, a / b))\n"),
        "kiv": ("def _kiv_kiv(a, b):\n"
                f"    # exp(a') - ln(b'): a' = ln(a) above {threshold} (no overflow), b' = max(|b|, {floor}) "
                "unless b > 0.\n"
                f"    a1 = np.where(a > {threshold}, np.log(np.where(a > {threshold}, a, 1.0)), a)\n"
                f"    b1 = np.where((b > 0.0) | np.isnan(b), b, np.maximum(np.abs(b), {floor}))\n"
                "    return _kiv_ok(np.exp(a1) - np.log(b1))\n"),
    }


_PY_HELPERS: Final = _py_helpers()


def _numpy_function(o: Operator) -> str:
    """The numpy function of a call operator without a guard: the table's Python rewrite (math.f) as np.f, else
    numpy's function of the operator's name."""
    if o.python.startswith("math.") and o.python.endswith("("):
        fn = o.python[len("math."):-1]
    else:
        fn = o.name
    if not hasattr(np, fn):
        raise NotImplementedError(f"to_python: the operator {o.name!r} has no numpy form")
    return f"np.{fn}"


def _native_op(o: Operator) -> Callable[..., Any]:
    """Operator o as the search evaluates it (the native kernel itself), elementwise over broadcast arrays;
    NaN where a guard trips or the result is not finite."""
    tokens = tuple((VAR, i, 0.0) for i in range(o.arity)) + ((OP, o.code, 0.0),)

    def op(*args: ArrayLike) -> Any:
        arrays = np.broadcast_arrays(*(np.asarray(a, dtype=np.float64) for a in args))
        values = _ops.evaluate(tokens, np.column_stack([a.ravel() for a in arrays]))
        return values.reshape(arrays[0].shape) if arrays[0].ndim else values[0]

    op.__name__ = f"native_{o.name}"
    op.__doc__ = (f"{o.name} as the search evaluates it (the core's kernel), elementwise over broadcast arrays; "
                  f"NaN where its guard trips or the result is not finite.")
    return op


numpy_kiv = _native_op(_ops.BY_NAME["kiv"])
numpy_recip = _native_op(_ops.BY_NAME["recip"])
numpy_div = _native_op(_ops.BY_NAME["div"])

# ---- SymPy forms ---------------------------------------------------------------------------------------------

_SYMPY: dict[str, Any] = {}


def _import_sympy() -> ModuleType:
    # SymPy is optional and untyped: imported on first use, its names typed as Any.
    return importlib.import_module("sympy")


def _sympy_numeric(sp: Any, args: tuple[Any, ...], prec: int, numeric: Callable[..., Any]) -> Any:
    """The native operator on arguments that evaluate to real floats, as a SymPy Float; None otherwise (SymPy
    then keeps the expression)."""
    values = []
    with sp.evaluate(True):
        for arg in args:
            v = arg.evalf(prec)
            if not (v.is_Number and v.is_extended_real):
                return None
            values.append(float(v))
    return sp.Float(float(numeric(*values)), prec)


def sympy_kiv() -> Any:
    """The SymPy function kiv(a, b): the search's guarded operator, evaluable numerically, lambdify-able,
    and rewritable as a Piecewise that states the guards.

    Returns
    -------
    type
        A subclass of ``sympy.Function``.
    """
    if "kiv" in _SYMPY:
        return _SYMPY["kiv"]
    sympy = _import_sympy()

    threshold, floor = sympy.Float(_ops.EXP_THRESHOLD), sympy.Float(_ops.LOG_FLOOR)
    latex = _ops.BY_NAME["kiv"]

    def _eval_evalf(self: Any, prec: int) -> Any:
        return _sympy_numeric(sympy, self.args, prec, numpy_kiv)

    def _eval_rewrite_as_Piecewise(self: Any, a: Any, b: Any, **kwargs: Any) -> Any:
        a1 = sympy.Piecewise((sympy.log(a), a > threshold), (a, True))
        b1 = sympy.Piecewise((b, b > 0), (sympy.Max(sympy.Abs(b), floor), True))
        return sympy.exp(a1) - sympy.log(b1)

    def _latex(self: Any, printer: Any) -> str:
        return _latex_op(latex, [printer._print(arg) for arg in self.args])

    kiv = type("kiv", (sympy.Function,), {
        "__doc__": (f"kiv(a, b) = exp(a') - ln(b'), with a' = ln(a) when a > {_ops.EXP_THRESHOLD} else a, and "
                    f"b' = b when b > 0 else max(|b|, {_ops.LOG_FLOOR})."),
        "__module__": __name__,
        "nargs": 2,
        "_eval_evalf": _eval_evalf,
        "_eval_rewrite_as_Piecewise": _eval_rewrite_as_Piecewise,
        "_latex": _latex,
        "_imp_": staticmethod(numpy_kiv),
    })
    _SYMPY["kiv"] = kiv
    return kiv


def _sympy_exact(name: str) -> Any:
    """recip(a) = 1/a and div(a, b) = a/b kept as single operations: SymPy prints x * (1/y) as x/y and
    a / (-b) as a * (-1/b), which round differently from the search."""
    if name in _SYMPY:
        return _SYMPY[name]
    sympy = _import_sympy()

    o = _ops.BY_NAME[name]
    numeric = {"recip": numpy_recip, "div": numpy_div}[name]

    def _eval_evalf(self: Any, prec: int) -> Any:
        return _sympy_numeric(sympy, self.args, prec, numeric)

    def _eval_rewrite_as_Pow(self: Any, *args: Any, **kwargs: Any) -> Any:
        return 1 / args[0] if o.arity == 1 else args[0] / args[1]

    def _latex(self: Any, printer: Any) -> str:
        return _latex_op(o, [printer._print(a) for a in self.args])

    cls = type(name, (sympy.Function,), {
        "__doc__": (f"1/a, without a value where |a| < {_ops.LOG_FLOOR}." if o.arity == 1 else
                    f"a/b, without a value where |b| < {_ops.LOG_FLOOR}."),
        "nargs": o.arity,
        "_eval_evalf": _eval_evalf,
        "_eval_rewrite_as_Pow": _eval_rewrite_as_Pow,
        "_latex": _latex,
        "__module__": __name__,
        "_imp_": staticmethod(numeric),
    })
    _SYMPY[name] = cls
    return cls


def _sympy_forms(sp: Any, exact: bool) -> dict[str, Callable[..., Any]]:
    """SymPy's form of each operator: SymPy's own function of the operator's name, the Python operator of an
    infix or prefix symbol, and these where neither fits."""
    forms: dict[str, Callable[..., Any]] = {
        "neg": operator.neg,
        "recip": (lambda a: 1 / a) if not exact else _sympy_exact("recip"),
        "abs": sp.Abs,
        "kiv": sympy_kiv(),
    }
    if exact:
        forms["div"] = _sympy_exact("div")
    symbols = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}
    for o in _ops.OPERATORS:
        if o.name in forms:
            continue
        if o.form == "infix" and o.symbol in symbols:
            forms[o.name] = symbols[o.symbol]
        elif o.form == "call" and callable(getattr(sp, o.name, None)):
            forms[o.name] = getattr(sp, o.name)
    return forms


# ---- the value class ------------------------------------------------------------------------------------------

def _optional_float(value: object, argument: str) -> float | None:
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{argument}: expected a real number or None, got {type(value).__name__}")
    return float(value)


def _check_settings(settings: object) -> tuple[tuple[str, SettingValue], ...] | None:
    if settings is None:
        return None
    try:
        items = dict(settings).items()  # type: ignore[call-overload]
    except (TypeError, ValueError):
        raise ValueError(f"settings: expected a mapping, got {type(settings).__name__}") from None
    out = []
    for key, value in items:
        if not isinstance(key, str) or not (value is None or isinstance(value, (bool, int, float, str))):
            raise ValueError(f"settings: {key!r}: {value!r} is not a setting of plain value")
        out.append((key, value))
    return tuple(sorted(out))


class Formula:
    """A formula over named features, as found by :func:`kiv.discover` or read from text.

    Parameters
    ----------
    tokens : sequence of (kind, index, value)
        The postfix token sequence (kind 0 constant ``value``, 1 parameter ``index`` with its value ``value``,
        2 variable ``index``, 3 operator of code ``index`` in the core's operator table).
    feature_names : sequence of str or int
        One name per feature; any text (an int is taken as its decimal text). Names that are not plain
        identifiers are shown between backticks in :attr:`text` and as given in :meth:`to_latex`;
        :attr:`identifiers` gives the Python identifiers that :meth:`to_python` and :meth:`to_sympy` use.
    error : float, optional
        The penalised score the search reported: ``rmse * (1 + complexity_penalty * complexity)``, as
        ``kiv_core.find_formula`` reports it.
    stopped_early : bool
        Whether the search was cut short by its time limit.
    settings : mapping, optional
        The search settings it was found with.
    rmse : float, optional
        Root mean square error on the training rows, unpenalised.
    score : float, optional
        What the search ranked the formula by.
    r2 : float, optional
        Coefficient of determination on the training rows.
    front : sequence of Formula, optional
        The Pareto front of the search that found it (see :attr:`front`): formulas over the same features,
        each with its ``rmse``, in strictly ascending complexity and strictly descending rmse. They are kept
        without fronts of their own, with this formula's settings.

    Raises
    ------
    ValueError
        For malformed tokens, names or attributes.
    """

    __slots__ = ("_tokens", "_names", "_error", "_stopped", "_settings", "_rmse", "_score", "_r2", "_front",
                 "_text", "_idents")

    _tokens: tuple[Token, ...]
    _names: tuple[str, ...]
    _error: float | None
    _stopped: bool
    _settings: tuple[tuple[str, SettingValue], ...] | None
    _rmse: float | None
    _score: float | None
    _r2: float | None
    _front: tuple[Formula, ...]
    _text: str | None
    _idents: tuple[str, ...] | None

    def __init__(self, tokens: Iterable[Sequence[object]], feature_names: Iterable[object], *,
                 error: float | None = None, stopped_early: bool = False,
                 settings: Mapping[str, SettingValue] | None = None, rmse: float | None = None,
                 score: float | None = None, r2: float | None = None,
                 front: Iterable[Formula] | None = None) -> None:
        names = check_feature_names(feature_names)
        self._tokens = _check_tokens(tokens, len(names))
        self._names = names
        self._error = _optional_float(error, "error")
        self._stopped = bool(stopped_early)
        self._settings = _check_settings(settings)
        self._rmse = _optional_float(rmse, "rmse")
        self._score = _optional_float(score, "score")
        self._r2 = _optional_float(r2, "r2")
        self._front = () if front is None else self._members(front)
        self._text = None
        self._idents = None

    def _members(self, front: object) -> tuple[Formula, ...]:
        """The front's members, checked, as plain formulas over these names with these settings."""
        if isinstance(front, (str, bytes)) or not isinstance(front, Iterable):
            raise ValueError(f"front: expected a sequence of Formula objects, got {type(front).__name__}")
        settings = self.settings
        out: list[Formula] = []
        for m in front:
            if not isinstance(m, Formula):
                raise ValueError(f"front: expected Formula objects, got {type(m).__name__}")
            if m._names != self._names:
                raise ValueError(f"front: a member's features {m._names!r} are not {self._names!r}")
            if m._rmse is None or math.isnan(m._rmse):
                raise ValueError(f"front: the member {m.text!r} has no rmse")
            last = out[-1]._rmse if out else None
            if last is not None and not (m.complexity > out[-1].complexity and m._rmse < last):
                raise ValueError("front: members must come in strictly ascending complexity, each with a strictly "
                                 "lower rmse than the one before")
            out.append(Formula(m._tokens, self._names, error=m._error, settings=settings, rmse=m._rmse,
                               score=m._score, r2=m._r2))
        return tuple(out)

    # -- construction from text --

    @classmethod
    def parse(cls, text: str, feature_names: Iterable[object]) -> Formula:
        """Reads a formula in ordinary infix notation over the given feature names.

        It reads every Formula's own :attr:`text` back to the same formula (constants as the text shows
        them), and ordinary maths: ``+ - * /`` with Python's precedence, ``**`` and ``^`` for powers,
        unary minus, the calls ``exp ln log sqrt sin cos abs kiv``, the constants ``e``, ``pi``
        (or ``π``), ``inf`` and ``nan``, and numbers in any float syntax (``2``, ``.5``, ``1e-3``). A name
        that is not a plain identifier, or that is one of those words, is written between backticks
        (```sepal length (cm)```, ```e```; a backtick inside is doubled); names compare in NFKC form. A power with an integer exponent up
        to 64 is read as repeated multiplication, ``** 0.5`` as sqrt, any other as
        ``exp(exponent * ln(base))``, which is defined for a positive base only.

        Parameters
        ----------
        text : str
            The formula.
        feature_names : sequence of str or int
            The names its variables use, one per feature.

        Returns
        -------
        Formula

        Raises
        ------
        ValueError
            Naming the place where the text cannot be read, or a number too large for a float.
        """
        names = check_feature_names(feature_names)
        return cls(_read(text, names={nfkc(n): i for i, n in enumerate(names)}), names)

    @classmethod
    def from_result(cls, result: Any, feature_names: Iterable[object] | None = None) -> Formula:
        """The formula of a ``kiv_core.PySearchResult``, whose text names variables by the core's letters
        x, y, z, {, ....

        Parameters
        ----------
        result : kiv_core.PySearchResult
            A result of ``kiv_core.find_formula``.
        feature_names : sequence of str or int, optional
            Names of the features (default: x0, x1, ... for as many as the formula uses).

        Returns
        -------
        Formula
            Its ``error`` and ``score`` are the result's error (the penalised score).
        """
        text = getattr(result, "formula", None)
        if not isinstance(text, str):
            raise ValueError(f"result: expected a kiv_core.PySearchResult, got {type(result).__name__}")
        tokens = _read(text, letters=_core_letters())
        used = max((i + 1 for k, i, _ in tokens if k == VAR), default=1)
        if feature_names is None:
            names = default_feature_names(used)
        else:
            names = check_feature_names(feature_names)
            if len(names) < used:
                raise ValueError(f"feature_names: the formula uses {used} variables, {len(names)} names given")
        error = float(result.error)
        return cls(tokens, names, error=error, score=error)

    # -- attributes --

    @property
    def tokens(self) -> tuple[Token, ...]:
        """The postfix token sequence: (kind, index, value) triples (kind 0 constant, 1 parameter, 2 variable
        ``index``, 3 operator of code ``index``)."""
        return self._tokens

    @property
    def text(self) -> str:
        """The formula as plain text, fully parenthesised, with the feature names; :meth:`parse` reads it back.
        Constants show four decimals (scientific notation below 0.1 and from 1e6 in magnitude)."""
        if self._text is None:
            self._text = _text(self._tokens, self._names)
        return self._text

    @property
    def error(self) -> float | None:
        """The penalised score the search reported, ``rmse * (1 + complexity_penalty * complexity)`` (the
        ``error`` of ``kiv_core.find_formula``); None for a formula read from text."""
        return self._error

    @property
    def rmse(self) -> float | None:
        """Root mean square error on the training rows, unpenalised; None when not known."""
        return self._rmse

    @property
    def score(self) -> float | None:
        """What the search ranked the formula by; None when not known."""
        return self._score

    @property
    def r2(self) -> float | None:
        """Coefficient of determination on the training rows; None when not known."""
        return self._r2

    @property
    def complexity(self) -> int:
        """The token count."""
        return len(self._tokens)

    @property
    def feature_names(self) -> tuple[str, ...]:
        """The features' names, as given."""
        return self._names

    @property
    def identifiers(self) -> dict[str, str]:
        """Feature name to the Python identifier that :meth:`to_python` and :meth:`to_sympy` use for it: the
        name itself when it is a valid identifier that the exports do not use themselves, else a cleaned
        form, made distinct by a suffix _2, _3, ... (deterministic, in feature order)."""
        return dict(zip(self._names, self._identifiers()))

    def _identifiers(self) -> tuple[str, ...]:
        if self._idents is None:
            self._idents = python_identifiers(self._names)
        return self._idents

    @property
    def n_features(self) -> int:
        """The number of features."""
        return len(self._names)

    @property
    def stopped_early(self) -> bool:
        """Whether the search was cut short by its time limit."""
        return self._stopped

    @property
    def settings(self) -> dict[str, SettingValue] | None:
        """The search settings it was found with; None when read from text."""
        return None if self._settings is None else dict(self._settings)

    @property
    def front(self) -> Front:
        """The Pareto front of the search: the best formula found for each complexity, over the whole search,
        keeping only those with a lower rmse than every simpler one.

        A :class:`Front` (a list of Formula objects, each with its ``rmse``, ``score`` and ``r2`` on the
        training rows), in ascending complexity; printed, a table that marks this formula's row with ``*``.
        Its members have no fronts of their own. Empty for a formula read from text or taken from a front.
        """
        chosen = next((i for i, m in enumerate(self._front) if m._tokens == self._tokens), None)
        return Front(self._front, chosen=chosen)

    # -- evaluation --

    def evaluate(self, X: ArrayLike) -> NDArray[np.float64]:
        """Values on every row of X.

        Computed natively with the guarded operators of the search itself, so that on the training rows the
        values reproduce the reported error bit for bit.

        Parameters
        ----------
        X : array_like or pandas.DataFrame
            (n_samples, n_features), or 1-D for a one-feature formula; a DataFrame is read by the feature
            names.

        Returns
        -------
        numpy.ndarray
            float64 of shape (n_samples,). NaN on a row where a guard trips: a logarithm of a non-positive
            number, a division by a number smaller than 1e-300 in magnitude, a square root of a negative
            number, or any intermediate value that is not finite.
        """
        return _ops.evaluate(self._tokens, _as_matrix(X, "X", feature_names=self._names))

    __call__ = evaluate

    # -- exports --

    def to_sympy(self, evaluate: bool = True,
                 symbols: Sequence[Any] | Mapping[str, Any] | None = None) -> Any:
        """The formula as a SymPy expression.

        Operators whose guards only cut away points where the value is undefined or not finite map to
        SymPy's own functions (1/a, a/b, log, sqrt, exp, sin, cos, Abs, so √|a| reads sqrt(Abs(a))); kiv,
        whose guards change finite values, is the named function ``kiv`` with a numeric implementation (the
        native operator, which ``sympy.lambdify`` uses) and a Piecewise rewrite that states its guards.
        Constants keep their full value (a Float holds the double exactly).

        Parameters
        ----------
        evaluate : bool
            True (default) lets SymPy simplify as it builds (sqrt(exp(a)) becomes exp(a/2), (x + 1) - 1
            becomes x), which is easier to read but rounds differently; a constant part without a value
            (1/0, ln(-1)) is ``nan``. False keeps every operation as the search performs it (1/a and a/b as
            the functions ``recip(a)`` and ``div(a, b)``, since SymPy prints x * (1/y) as x/y, which rounds
            differently; ``.rewrite(sympy.Pow)`` turns them back into quotients): wherever :meth:`evaluate`
            gives a number, ``lambdify`` of that expression computes the same operations in the same order
            (with the C library's exp, log, sin and cos; SymPy has no -0, so a zero may lose its sign).
        symbols : sequence or mapping, optional
            What stands for each feature: one SymPy expression (or a str, taken as a symbol's name) per
            feature in order, or a mapping from feature names to them (features left out keep the default).
            Default: ``sympy.Symbol(identifier)`` with the feature's identifier (:attr:`identifiers`), no
            assumptions, so that it is the symbol a SymPy user writes.

        Returns
        -------
        sympy.Expr
        """
        sp = _import_sympy()

        leaves = self._sympy_symbols(sp, symbols)
        with sp.evaluate(bool(evaluate)):
            return self._sympy(sp, leaves, bool(evaluate))

    def _sympy_symbols(self, sp: Any, symbols: object) -> list[Any]:
        def one(value: object, what: str) -> Any:
            if isinstance(value, str):
                return sp.Symbol(value)
            try:
                return sp.sympify(value, strict=True)
            except (sp.SympifyError, TypeError, ValueError):
                raise ValueError(f"symbols: {what}: {value!r} is not a SymPy expression") from None

        out = [sp.Symbol(ident) for ident in self._identifiers()]
        if symbols is None:
            return out
        if isinstance(symbols, Mapping):
            index = {n: i for i, n in enumerate(self._names)}
            for key, value in symbols.items():
                if key not in index:
                    raise ValueError(f"symbols: {key!r} is not one of the feature names {self._names!r}")
                out[index[key]] = one(value, repr(key))
            return out
        if isinstance(symbols, (str, bytes)) or not isinstance(symbols, Iterable):
            raise ValueError(f"symbols: expected a sequence or a mapping, got {type(symbols).__name__}")
        given = list(symbols)
        if len(given) != len(self._names):
            raise ValueError(f"symbols: {len(given)} given for {len(self._names)} features")
        return [one(v, repr(n)) for v, n in zip(given, self._names)]

    def _sympy(self, sp: Any, leaves: list[Any], evaluated: bool) -> Any:
        forms = _sympy_forms(sp, exact=not evaluated)
        undefined = {sp.zoo, sp.oo, -sp.oo, sp.nan}

        def number(v: float) -> Any:
            if _same(v, PI):
                return sp.pi
            if _same(v, E):
                return sp.E
            if math.isnan(v):
                return sp.nan
            if math.isinf(v):
                return sp.oo if v > 0 else -sp.oo
            if v == int(v) and abs(v) < 2**53:
                return sp.Integer(int(v))
            return sp.Float(v)

        # Each node carries whether it is constant, so that the test for "no value" looks at one node only
        # and the whole conversion stays linear in the formula's size.
        def leaf(n: Node) -> tuple[Any, bool]:
            if n[0] == "v":
                return leaves[n[1]], False
            return number(n[-1]), True

        def op(o: Operator, a: list[tuple[Any, bool]]) -> tuple[Any, bool]:
            r = forms[o.name](*(e for e, _ in a))
            # Constant when its operands are, or when SymPy folded it to a number ((x - x) is 0).
            const = all(c for _, c in a) or bool(r.is_Number or r.is_NumberSymbol)
            if evaluated and (r in undefined or any(arg in undefined for arg in r.args)
                              or (const and r.is_extended_real is False)):
                # A part that is infinite, undefined or not real (1/0, log(0), sqrt(-3), ...) has no value:
                # evaluate's NaN.
                return sp.nan, True
            return r, const

        return _fold(_tree(self._tokens), leaf, op)[0]

    def to_latex(self) -> str:
        """LaTeX of the formula: feature names as given (one letter in italics, longer names upright, LaTeX's
        special characters escaped), constants at full precision.

        Returns
        -------
        str
        """
        names = [_latex_name(n) for n in self._names]

        def leaf(n: Node) -> str:
            return names[n[1]] if n[0] == "v" else _latex_number(n[-1])

        return _fold(_tree(self._tokens), leaf, _latex_op)

    def to_python(self, name: str = "f") -> str:
        """numpy source defining the function ``name(X)``.

        X is (n_samples, n_features) (or 1-D for one feature); the function gives the formula's values with
        the guards of the search (NaN where one trips). Features are named by their :attr:`identifiers`,
        constants written at full precision. It agrees with :meth:`evaluate` to the rounding of numpy's
        elementary functions.

        Parameters
        ----------
        name : str
            The function's name: an identifier that no feature and nothing in the source uses.

        Returns
        -------
        str
            Source that imports numpy as np and defines the function.
        """
        idents = self._identifiers()
        if not isinstance(name, str) or not name.isidentifier() or keyword.iskeyword(name):
            raise ValueError(f"name: {name!r} is not a valid Python identifier")
        if nfkc(name) in idents or nfkc(name) in ("np", "X") or nfkc(name).startswith("_kiv"):
            raise ValueError(f"name: {name!r} is used by the source itself")
        for ident in idents:
            # Identifiers are made valid; this guards the one place where text becomes code.
            if not ident.isidentifier() or keyword.iskeyword(ident):
                raise AssertionError(f"feature identifier {ident!r} is not valid")
        used = {"ok"}

        def leaf(n: Node) -> str:
            if n[0] == "v":
                return idents[n[1]]
            v = n[-1]
            if _same(v, PI):
                return "np.pi"
            if _same(v, E):
                return "np.e"
            if math.isnan(v):
                return "np.nan"
            if math.isinf(v):
                return "np.inf" if v > 0 else "(-np.inf)"
            # repr: the same double, and a float literal, so that Python never computes in integers.
            return f"({v!r})" if math.copysign(1.0, v) < 0 else repr(v)

        def op(o: Operator, a: list[str]) -> str:
            if o.name in _PY_HELPERS:
                used.add(o.name)
                return f"_kiv_{o.name}({', '.join(a)})"
            if o.form == "call":
                return f"_kiv_ok({_numpy_function(o)}({', '.join(a)}))"
            if o.form in ("infix", "prefix"):
                return "_kiv_ok(" + o.prefix + a[0] + (o.infix + a[1] if o.arity == 2 else "") + o.suffix + ")"
            raise NotImplementedError(f"to_python: the operator {o.name!r} has no numpy form")

        body = _fold(_tree(self._tokens), leaf, op)
        lines = ["import numpy as np", ""]
        lines += [source for key, source in _PY_HELPERS.items() if key in used]
        lines += ["", f"def {name}(X):", f"    {self.text!r}", "    X = np.asarray(X, dtype=np.float64)"]
        if len(self._names) == 1:
            lines += ["    if X.ndim == 1:", "        X = X[:, None]"]
        lines += [f"    {ident} = X[:, {i}]" for i, ident in enumerate(idents)]
        lines += ["    with np.errstate(all='ignore'):",
                  f"        return np.broadcast_to({body}, X.shape[:1]).astype(np.float64)"]
        return "\n".join(lines) + "\n"

    # -- value semantics --

    def _key(self) -> tuple[object, ...]:
        def bits(v: float | None) -> bytes | None:
            return None if v is None else struct.pack("<d", v)

        toks = tuple((k, i, struct.pack("<d", v)) for k, i, v in self._tokens)
        return (toks, self._names, bits(self._error), self._stopped, self._settings, bits(self._rmse),
                bits(self._score), bits(self._r2), tuple(m._key() for m in self._front))

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Formula):
            return NotImplemented
        return self._key() == other._key()

    def __hash__(self) -> int:
        return hash(self._key())

    def _state(self) -> tuple[object, ...]:
        # The members share the names and settings: each is stored as (tokens, error, rmse, score, r2).
        members = tuple((m._tokens, m._error, m._rmse, m._score, m._r2) for m in self._front)
        return (self._tokens, self._names, self._error, self._stopped, self.settings, self._rmse, self._score,
                self._r2, members)

    def __reduce__(self) -> tuple[Callable[..., Formula], tuple[object, ...]]:
        return (_restore, self._state())

    def __setstate__(self, state: object) -> None:
        """Restores the attributes from a pickle's state, through the same checks as the constructor, so that
        no stream sets names or tokens that the constructor would refuse."""
        if isinstance(state, tuple) and len(state) == 2 and state[0] is None:
            state = state[1]  # the (dict, slots) form of objects with __slots__
        if not isinstance(state, Mapping):
            raise ValueError(f"state: expected a mapping of attributes, got {type(state).__name__}")
        known = {"_tokens", "_names", "_error", "_stopped", "_settings", "_rmse", "_score", "_r2", "_front",
                 "_text", "_idents"}
        if not set(state) <= known or "_tokens" not in state or "_names" not in state:
            raise ValueError("state: not the attributes of a Formula")
        settings = state.get("_settings")
        checked = Formula(state["_tokens"], state["_names"], error=state.get("_error"),
                          stopped_early=state.get("_stopped", False),
                          settings=None if settings is None else dict(settings),
                          rmse=state.get("_rmse"), score=state.get("_score"), r2=state.get("_r2"),
                          front=state.get("_front"))
        for slot in Formula.__slots__:
            object.__setattr__(self, slot, getattr(checked, slot))

    def __repr__(self) -> str:
        parts = [repr(self.text)]
        for label, value in (("error", self._error), ("rmse", self._rmse), ("score", self._score),
                             ("r2", self._r2)):
            if value is not None:
                parts.append(f"{label}={value:.3g}")
        parts.append(f"complexity={self.complexity}")
        if self._names != default_feature_names(len(self._names)):
            parts.append(f"feature_names={self._names!r}")
        if self._stopped:
            parts.append("stopped_early=True")
        return f"Formula({', '.join(parts)})"

    def __str__(self) -> str:
        return self.text


def _measure(value: float | None, decimals: bool = False) -> str:
    if value is None:
        return "-"
    if decimals and abs(value) < 1e6:
        return f"{value:.6f}"
    return f"{value:.4g}"


class Front(list[Formula]):
    """The Pareto front of a search (:attr:`Formula.front`): a list of formulas in ascending complexity, each
    with a lower rmse than every simpler one. Printed, it is a table of complexity, rmse, r2 and the formula,
    with ``*`` on the row of the formula the search returned.

    Parameters
    ----------
    members : iterable of Formula
        The formulas, in order.
    chosen : int, optional
        The index of the formula the search returned, if it is one of them.
    """

    __slots__ = ("chosen",)

    def __init__(self, members: Iterable[Formula] = (), chosen: int | None = None) -> None:
        super().__init__(members)
        #: The index of the formula the search returned, or None.
        self.chosen = chosen

    def table(self) -> str:
        """The front as a text table: complexity, rmse, r2 and formula text, one row per member.

        Returns
        -------
        str
        """
        rows = [("", "complexity", "rmse", "r2", "formula")]
        for i, m in enumerate(self):
            rows.append(("*" if i == self.chosen else "", str(m.complexity), _measure(m.rmse),
                         _measure(m.r2, decimals=True), m.text))
        widths = [max(len(r[c]) for r in rows) for c in range(4)]
        lines = [f"{r[0]:<{widths[0]}} {r[1]:>{widths[1]}}  {r[2]:>{widths[2]}}  {r[3]:>{widths[3]}}  {r[4]}".rstrip()
                 for r in rows]
        return "\n".join(lines)

    def __repr__(self) -> str:
        return self.table() if self else "Front([])"

    __str__ = __repr__


def _restore(tokens: Iterable[Sequence[object]], names: Iterable[object], error: float | None = None,
             stopped: bool = False, settings: Mapping[str, SettingValue] | None = None,
             rmse: float | None = None, score: float | None = None, r2: float | None = None,
             front: Iterable[object] = ()) -> Formula:
    # Pickles made before rmse, score and r2 existed carry the first five arguments only, those made before
    # the front the first eight.
    if settings is not None and not isinstance(settings, Mapping):
        settings = dict(settings)
    members = []
    for m in front:
        try:
            m_tokens, m_error, m_rmse, m_score, m_r2 = cast(tuple[Any, Any, Any, Any, Any], m)
        except (TypeError, ValueError):
            raise ValueError(f"front: {m!r} is not a member's (tokens, error, rmse, score, r2)") from None
        members.append(Formula(m_tokens, names, error=m_error, rmse=m_rmse, score=m_score, r2=m_r2))
    return Formula(tokens, names, error=error, stopped_early=stopped, settings=settings, rmse=rmse, score=score,
                   r2=r2, front=members)
