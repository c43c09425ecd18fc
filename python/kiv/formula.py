"""Formula: a discovered formula as a value that can be evaluated, printed, exported and read back."""

from __future__ import annotations

import keyword
import math
import re
import struct

import numpy as np

from kiv import _native

__all__ = ["Formula", "MAX_FEATURES", "default_feature_names", "check_feature_names"]

# Token kinds, as the native module reads them: (kind, index, value) triples.
CONST, PARAM, VAR, OP = 0, 1, 2, 3

# Operator codes and their arity (codes below 8 take one operand).
NEG, RECIP, EXP, LN, SQRT, SIN, COS, ABS, KIV, ADD, SUB, MUL, DIV = range(13)
_FUNCTIONS = {"exp": EXP, "ln": LN, "sqrt": SQRT, "sin": SIN, "cos": COS, "abs": ABS}
_INFIX = {ADD: "+", SUB: "-", MUL: "*", DIV: "/"}

PI = 3.141592653589793
E = 2.718281828459045

# The core writes variable k as the character of code 120 + k (mod 256): "x", "y", "z", "{", ... "ÿ" for
# k < 136. From k = 136 on the codes wrap round to control characters, digits, parentheses and letters that
# the formula text itself uses, so a result's text could no longer be read back. A search over more
# features than this is refused.
MAX_FEATURES = 136

# Names a feature cannot take: they mean something else in the formula text or in the exported source.
_RESERVED = frozenset({"e", "π", "inf", "NaN", "kiv", "np", "X", "f", *_FUNCTIONS})


def default_feature_names(n):
    """x, y, z for up to three features (the core's own letters), else x0, x1, ..."""
    if n <= 3:
        return ("x", "y", "z")[:n]
    return tuple(f"x{i}" for i in range(n))


def check_feature_names(names, n=None, argument="feature_names"):
    """The names as a tuple of str, or ValueError naming the argument and the problem."""
    if isinstance(names, str):
        raise ValueError(f"{argument}: expected a sequence of names, got the single string {names!r}")
    try:
        names = tuple(names)
    except TypeError:
        raise ValueError(f"{argument}: expected a sequence of names, got {type(names).__name__}") from None
    if n is not None and len(names) != n:
        raise ValueError(f"{argument}: {len(names)} names given for {n} features")
    seen = set()
    for name in names:
        if not isinstance(name, str):
            raise ValueError(f"{argument}: {name!r} is not a string")
        if not name.isidentifier() or keyword.iskeyword(name):
            raise ValueError(f"{argument}: {name!r} is not a valid Python identifier")
        if name in _RESERVED or name.startswith("_kiv"):
            raise ValueError(f"{argument}: {name!r} is reserved (it names a constant or function of the formula "
                             f"text or of the exported source)")
        if name in seen:
            raise ValueError(f"{argument}: {name!r} appears more than once")
        seen.add(name)
    return names


def _fixed4(v):
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return f"{v:.4f}"


def _same(a, b):
    """Bitwise equality of floats (so -0.0 != 0.0 and a NaN equals itself)."""
    return struct.pack("<d", a) == struct.pack("<d", b)


def _check_tokens(tokens, n_features):
    """Tokens as a tuple of (kind, index, value) triples of exact types; ValueError if they are malformed."""
    out = []
    depth = 0
    for t in tokens:
        kind, index, value = t
        kind, index, value = int(kind), int(index), float(value)
        if kind == VAR:
            if not 0 <= index < n_features:
                raise ValueError(f"tokens: variable {index} is beyond the {n_features} features")
            depth += 1
        elif kind in (CONST, PARAM):
            if index < 0:
                raise ValueError("tokens: negative parameter index")
            depth += 1
        elif kind == OP:
            if not 0 <= index <= 12:
                raise ValueError(f"tokens: unknown operator code {index}")
            need = 1 if index < 8 else 2
            if depth < need:
                raise ValueError("tokens: an operator lacks its operand")
            depth -= need - 1
        else:
            raise ValueError(f"tokens: unknown token kind {kind}")
        out.append((kind, index, value if kind in (CONST, PARAM) else 0.0))
    if depth != 1:
        raise ValueError("tokens: the sequence does not leave exactly one value")
    return tuple(out)


def _tree(tokens):
    """Postfix tokens as nested tuples: ('c', v), ('p', i, v), ('v', i) and ('o', code, operands...)."""
    stack = []
    for kind, index, value in tokens:
        if kind == CONST:
            stack.append(("c", value))
        elif kind == PARAM:
            stack.append(("p", index, value))
        elif kind == VAR:
            stack.append(("v", index))
        elif index < 8:
            stack.append(("o", index, stack.pop()))
        else:
            b = stack.pop()
            stack.append(("o", index, stack.pop(), b))
    return stack[0]


def _fold(node, leaf, op):
    """Bottom-up fold without recursion limits: leaf(node) for leaves, op(code, operand results) else."""
    # Formulas are short, but parsed text can nest deeply; an explicit stack keeps that safe.
    out = []
    work = [(node, False)]
    while work:
        n, done = work.pop()
        if n[0] != "o":
            out.append(leaf(n))
        elif done:
            k = len(n) - 2
            args = out[-k:]
            del out[-k:]
            out.append(op(n[1], args))
        else:
            work.append((n, True))
            for child in reversed(n[2:]):
                work.append((child, False))
    return out[0]


def _text(tokens, names):
    def leaf(n):
        if n[0] == "c":
            v = n[1]
            if v == PI and _same(v, PI):
                return "π"
            if v == E and _same(v, E):
                return "e"
            return _fixed4(v)
        if n[0] == "p":
            return f"c{n[1]}({_fixed4(n[2])})"
        return names[n[1]]

    def op(code, a):
        if code == NEG:
            return f"(-{a[0]})"
        if code == RECIP:
            return f"(1/{a[0]})"
        if code == KIV:
            return f"kiv({a[0]}, {a[1]})"
        if code in _INFIX:
            return f"({a[0]} {_INFIX[code]} {a[1]})"
        return f"{_CODE_NAMES[code]}({a[0]})"

    return _fold(_tree(tokens), leaf, op)


_CODE_NAMES = {v: k for k, v in _FUNCTIONS.items()}


# ---- reading formula text ---------------------------------------------------------------------------------

_NUMBER = re.compile(r"-?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][-+]?\d+)?|NaN|-?inf(?!\w)")
_IDENT = re.compile(r"[^\W\d]\w*")
_PARAM = re.compile(r"c(\d+)\(")


class _Reader:
    """Recursive descent over the plain formula text. Variables are read either as whole identifiers that
    must be feature names, or (for the core's own text) as single characters mapped to their index."""

    def __init__(self, text, names=None, letters=None):
        self.s = text
        self.i = 0
        self.names = names
        self.letters = letters
        self.out = []

    def fail(self, what):
        raise ValueError(f"text: cannot read the formula at position {self.i} ({self.s[self.i:self.i + 12]!r}): "
                         f"{what}")

    def expect(self, lit):
        if not self.s.startswith(lit, self.i):
            self.fail(f"expected {lit!r}")
        self.i += len(lit)

    def number(self):
        m = _NUMBER.match(self.s, self.i)
        if not m:
            return None
        self.i = m.end()
        t = m.group()
        return float("nan") if t == "NaN" else float(t)

    def read(self):
        self.expr()
        if self.i != len(self.s):
            self.fail("unexpected text after the formula")
        return tuple(self.out)

    def expr(self):
        # An explicit loop over pending closers would avoid recursion; formulas are short, and the
        # interpreter's recursion limit turns pathological nesting into a RecursionError -> ValueError.
        s, i = self.s, self.i
        if s.startswith("(", i):
            if s.startswith("(-", i):
                m = _NUMBER.match(s, i + 1)
                if m and s.startswith((" + ", " - ", " * ", " / "), m.end()):
                    self.i = i + 1
                    return self.binary()
                self.i = i + 2
                self.expr()
                self.expect(")")
                self.out.append((OP, NEG, 0.0))
                return
            if s.startswith("(1/", i):
                self.i = i + 3
                self.expr()
                self.expect(")")
                self.out.append((OP, RECIP, 0.0))
                return
            self.i = i + 1
            return self.binary()
        if s.startswith("kiv(", i):
            self.i = i + 4
            self.expr()
            self.expect(", ")
            self.expr()
            self.expect(")")
            self.out.append((OP, KIV, 0.0))
            return
        for name, code in _FUNCTIONS.items():
            if s.startswith(name + "(", i):
                self.i = i + len(name) + 1
                self.expr()
                self.expect(")")
                self.out.append((OP, code, 0.0))
                return
        m = _PARAM.match(s, i)
        if m:
            self.i = m.end()
            v = self.number()
            if v is None:
                self.fail("expected the parameter's value")
            self.expect(")")
            self.out.append((PARAM, int(m.group(1)), v))
            return
        if s.startswith("π", i):
            self.i = i + 1
            self.out.append((CONST, 0, PI))
            return
        if self.letters is not None:
            if i < len(s) and s[i] in self.letters:
                self.i = i + 1
                self.out.append((VAR, self.letters[s[i]], 0.0))
                return
            if s.startswith("e", i):
                self.i = i + 1
                self.out.append((CONST, 0, E))
                return
        else:
            m = _IDENT.match(s, i)
            if m and m.group() not in ("inf", "NaN"):
                name = m.group()
                self.i = m.end()
                if name == "e":
                    self.out.append((CONST, 0, E))
                elif name in self.names:
                    self.out.append((VAR, self.names[name], 0.0))
                else:
                    self.i = i
                    self.fail(f"{name!r} is not one of the feature names")
                return
        v = self.number()
        if v is None:
            self.fail("expected a number, a variable, a function or '('")
        self.out.append((CONST, 0, v))

    def binary(self):
        self.expr()
        for code, sign in _INFIX.items():
            if self.s.startswith(f" {sign} ", self.i):
                self.i += 3
                self.expr()
                self.expect(")")
                self.out.append((OP, code, 0.0))
                return
        self.fail("expected ' + ', ' - ', ' * ' or ' / '")


def _core_letters():
    return {chr((120 + k) % 256): k for k in range(MAX_FEATURES)}


# ---- numpy forms of the guarded operators (used by to_python's source and by the sympy kiv) ------------

_PY_HELPERS = {
    "ok": ("def _kiv_ok(v):\n"
           "    # Every operator's result must be finite; otherwise the row has no value.\n"
           "    return np.where(np.isfinite(v), v, np.nan)\n"),
    RECIP: ("def _kiv_recip(a):\n"
            "    a = np.asarray(a, dtype=np.float64)\n"
            "    return _kiv_ok(np.where(np.abs(a) < 1e-300, np.nan, 1.0 / a))\n"),
    LN: ("def _kiv_ln(a):\n"
         "    return _kiv_ok(np.where(a <= 0.0, np.nan, np.log(np.where(a <= 0.0, 1.0, a))))\n"),
    SQRT: ("def _kiv_sqrt(a):\n"
           "    return _kiv_ok(np.where(a < 0.0, np.nan, np.sqrt(np.where(a < 0.0, 0.0, a))))\n"),
    DIV: ("def _kiv_div(a, b):\n"
          "    b = np.asarray(b, dtype=np.float64)\n"
          "    return _kiv_ok(np.where(np.abs(b) < 1e-300, np.nan, a / b))\n"),
    KIV: ("def _kiv_kiv(a, b):\n"
          "    # exp(a') - ln(b'): a' = ln(a) above 709.78 (no overflow), b' = max(|b|, 1e-300) unless b > 0.\n"
          "    a1 = np.where(a > 709.78, np.log(np.where(a > 709.78, a, 1.0)), a)\n"
          "    b1 = np.where((b > 0.0) | np.isnan(b), b, np.maximum(np.abs(b), 1e-300))\n"
          "    return _kiv_ok(np.exp(a1) - np.log(b1))\n"),
}


def _native_op(code):
    """Operator `code` as the search evaluates it (the native kernel itself), elementwise over broadcast
    arrays; NaN where a guard trips or the result is not finite."""
    n = 1 if code < 8 else 2
    tokens = tuple((VAR, i, 0.0) for i in range(n)) + ((OP, code, 0.0),)

    def op(*args):
        arrays = np.broadcast_arrays(*(np.asarray(a, dtype=np.float64) for a in args))
        values = _native._evaluate(tokens, np.column_stack([a.ravel() for a in arrays]))
        return values.reshape(arrays[0].shape) if arrays[0].ndim else values[0]

    return op


numpy_kiv = _native_op(KIV)
numpy_recip = _native_op(RECIP)
numpy_div = _native_op(DIV)

_SYMPY = {}


def sympy_kiv():
    """The SymPy function kiv(a, b): the search's guarded operator, evaluable numerically, lambdify-able,
    and rewritable as a Piecewise that states the guards."""
    if "kiv" in _SYMPY:
        return _SYMPY["kiv"]
    import sympy

    class kiv(sympy.Function):  # noqa: N801 - the operator's own name
        """kiv(a, b) = exp(a') - ln(b'), with a' = ln(a) when a > 709.78 else a, and b' = b when b > 0
        else max(|b|, 1e-300)."""

        nargs = 2

        def _eval_evalf(self, prec):
            a, b = (arg.evalf(prec) for arg in self.args)
            if a.is_number and b.is_number and a.is_extended_real and b.is_extended_real:
                return sympy.Float(float(numpy_kiv(float(a), float(b))), prec)
            return None

        def _eval_rewrite_as_Piecewise(self, a, b, **kwargs):
            a1 = sympy.Piecewise((sympy.log(a), a > sympy.Float(709.78)), (a, True))
            b1 = sympy.Piecewise((b, b > 0), (sympy.Max(sympy.Abs(b), sympy.Float(1e-300)), True))
            return sympy.exp(a1) - sympy.log(b1)

        def _latex(self, printer):
            a, b = (printer._print(arg) for arg in self.args)
            return rf"\operatorname{{kiv}}\left({a}, {b}\right)"

    kiv._imp_ = staticmethod(numpy_kiv)
    _SYMPY["kiv"] = kiv
    return kiv


def _sympy_exact(name):
    """recip(a) = 1/a and div(a, b) = a/b kept as single operations: SymPy prints x * (1/y) as x/y and
    a / (-b) as a * (-1/b), which round differently from the search."""
    if name in _SYMPY:
        return _SYMPY[name]
    import sympy

    code, numeric = {"recip": (RECIP, numpy_recip), "div": (DIV, numpy_div)}[name]

    def _eval_evalf(self, prec):
        args = [arg.evalf(prec) for arg in self.args]
        if all(a.is_number and a.is_extended_real for a in args):
            return sympy.Float(float(numeric(*(float(a) for a in args))), prec)
        return None

    def _eval_rewrite_as_Pow(self, *args, **kwargs):
        return 1 / args[0] if code == RECIP else args[0] / args[1]

    def _latex(self, printer):
        p = [printer._print(a) for a in self.args]
        return rf"\frac{{1}}{{{p[0]}}}" if code == RECIP else rf"\frac{{{p[0]}}}{{{p[1]}}}"

    cls = type(name, (sympy.Function,), {
        "__doc__": "1/a, without a value where |a| < 1e-300." if code == RECIP else
                   "a/b, without a value where |b| < 1e-300.",
        "nargs": 1 if code == RECIP else 2,
        "_eval_evalf": _eval_evalf,
        "_eval_rewrite_as_Pow": _eval_rewrite_as_Pow,
        "_latex": _latex,
        "_imp_": staticmethod(numeric),
    })
    _SYMPY[name] = cls
    return cls


# ---- the value class -------------------------------------------------------------------------------------

class Formula:
    """A formula over named features, as found by :func:`kiv.discover` or read from text.

    ``text`` is the plain formula text with the feature names; ``error`` the penalised score the search
    reported (rmse * (1 + complexity_penalty * complexity); None for a formula read from text);
    ``complexity`` the token count; ``stopped_early`` whether the search was cut short by its time limit;
    ``settings`` the search settings it was found with (None when read from text); ``rmse`` the error on
    the training rows without the penalty, ``score`` what the search ranked by, ``r2`` the coefficient of
    determination on the training rows (each None for a formula read from text).
    """

    __slots__ = ("_tokens", "_names", "_error", "_stopped", "_settings", "_text", "_rmse", "_score", "_r2")

    def __init__(self, tokens, feature_names, *, error=None, stopped_early=False, settings=None, rmse=None,
                 score=None, r2=None):
        names = check_feature_names(feature_names)
        self._tokens = _check_tokens(tokens, len(names))
        self._names = names
        self._error = None if error is None else float(error)
        self._rmse = None if rmse is None else float(rmse)
        self._score = None if score is None else float(score)
        self._r2 = None if r2 is None else float(r2)
        self._stopped = bool(stopped_early)
        self._settings = None if settings is None else tuple(sorted(dict(settings).items()))
        self._text = None

    # -- construction from text --

    @classmethod
    def parse(cls, text, feature_names):
        """Reads a plain formula text whose variables are the given feature names (the inverse of
        ``Formula.text``)."""
        if not isinstance(text, str):
            raise ValueError(f"text: expected a str, got {type(text).__name__}")
        names = check_feature_names(feature_names)
        try:
            tokens = _Reader(text, names={n: i for i, n in enumerate(names)}).read()
        except RecursionError:
            raise ValueError("text: the formula nests too deeply to read") from None
        return cls(tokens, names)

    @classmethod
    def from_result(cls, result, feature_names=None):
        """The formula of a ``kiv_core.PySearchResult`` (its variables are the core's letters x, y, z, {, ...),
        with the given feature names (default: as many default names as the text needs)."""
        text = getattr(result, "formula", None)
        if not isinstance(text, str):
            raise ValueError(f"result: expected a kiv_core.PySearchResult, got {type(result).__name__}")
        try:
            tokens = _Reader(text, letters=_core_letters()).read()
        except RecursionError:
            raise ValueError("text: the formula nests too deeply to read") from None
        used = max((i + 1 for k, i, _ in tokens if k == VAR), default=1)
        if feature_names is None:
            feature_names = default_feature_names(used)
        elif len(tuple(feature_names)) < used:
            raise ValueError(f"feature_names: the formula uses {used} variables, {len(tuple(feature_names))} "
                             f"names given")
        names = tuple(feature_names)
        return cls(tokens, names, error=result.error)

    # -- attributes --

    @property
    def tokens(self):
        """The postfix token sequence: (kind, index, value) triples (kind 0 constant, 1 parameter, 2 variable
        `index`, 3 operator code `index`)."""
        return self._tokens

    @property
    def text(self):
        if self._text is None:
            self._text = _text(self._tokens, self._names)
        return self._text

    @property
    def error(self):
        return self._error

    @property
    def rmse(self):
        return self._rmse

    @property
    def score(self):
        return self._score

    @property
    def r2(self):
        return self._r2

    @property
    def complexity(self):
        return len(self._tokens)

    @property
    def feature_names(self):
        return self._names

    @property
    def n_features(self):
        return len(self._names)

    @property
    def stopped_early(self):
        return self._stopped

    @property
    def settings(self):
        return None if self._settings is None else dict(self._settings)

    # -- evaluation --

    def evaluate(self, X):
        """Values on every row of X (n_samples, n_features), or of a 1-D X for a one-feature formula; a
        DataFrame is read by the feature names. Computed natively with the guarded operators of the search
        itself, so that on the training rows the values reproduce the reported error bit for bit. A row where
        a guard trips (a logarithm of a non-positive number, a division by a number smaller than 1e-300 in
        magnitude, a square root of a negative number, or any intermediate value that is not finite) gives
        NaN."""
        return _native._evaluate(self._tokens, self._matrix(X))

    __call__ = evaluate

    def _matrix(self, X):
        from kiv._validate import as_matrix

        return as_matrix(X, "X", feature_names=self._names)

    # -- exports --

    def to_sympy(self, evaluate=True):
        """The formula as a SymPy expression over real symbols named by the features.

        Operators whose guards only cut away points where the value is undefined or not finite map to
        SymPy's own functions (1/a, a/b, log, sqrt, exp, sin, cos, Abs, so √|a| reads sqrt(Abs(a))); kiv,
        whose guards change finite values, is the named function ``kiv`` with a numeric implementation (the
        native operator, which ``sympy.lambdify`` uses) and a Piecewise rewrite that states its guards. A
        constant part without a value (1/0, ln(-1)) is ``nan``.

        evaluate=False keeps every operation as the search performs it (no automatic rewriting, and 1/a and
        a/b as the functions ``recip(a)`` and ``div(a, b)``, since SymPy prints x * (1/y) as x/y, which
        rounds differently; ``.rewrite(sympy.Pow)`` turns them back into quotients): wherever
        ``evaluate`` gives a number, ``lambdify`` of that expression computes the same operations in the same
        order, so it gives the same number (with the C library's exp, log, sin and cos; numpy's may differ in
        the last bit; SymPy has no -0, so a zero may lose its sign). The default lets SymPy simplify as it
        builds (sqrt(exp(a)) becomes exp(a/2), (x + 1) - 1 becomes x), which is easier to read but rounds
        differently. Where ``evaluate`` gives NaN, lambdify may give a value either way.
        """
        import sympy

        with sympy.evaluate(bool(evaluate)):
            return self._sympy(sympy)

    def _sympy(self, sympy):
        kiv = sympy_kiv()
        symbols = [sympy.Symbol(n, real=True) for n in self._names]

        def leaf(n):
            if n[0] == "v":
                return symbols[n[1]]
            v = n[-1]
            if _same(v, PI):
                return sympy.pi
            if _same(v, E):
                return sympy.E
            if math.isnan(v):
                return sympy.nan
            if math.isinf(v):
                return sympy.oo if v > 0 else -sympy.oo
            if v == int(v) and abs(v) < 2**53:
                return sympy.Integer(int(v))
            return sympy.Float(v)

        undefined = (sympy.zoo, sympy.oo, -sympy.oo, sympy.nan)
        exact = None if sympy.core.parameters.global_parameters.evaluate else _sympy_exact

        def op(code, a):
            r = sympy_op(code, a)
            # A part that is infinite, undefined or not real (1/0, log(0), sqrt(-3), ...) has no value:
            # evaluate's NaN.
            if r.has(*undefined) or (r.is_number and r.is_extended_real is False):
                return sympy.nan
            return r

        def sympy_op(code, a):
            if code == NEG:
                return -a[0]
            if code == RECIP:
                return 1 / a[0] if exact is None else exact("recip")(a[0])
            if code == EXP:
                return sympy.exp(a[0])
            if code == LN:
                return sympy.log(a[0])
            if code == SQRT:
                return sympy.sqrt(a[0])
            if code == SIN:
                return sympy.sin(a[0])
            if code == COS:
                return sympy.cos(a[0])
            if code == ABS:
                return sympy.Abs(a[0])
            if code == KIV:
                return kiv(a[0], a[1])
            if code == ADD:
                return a[0] + a[1]
            if code == SUB:
                return a[0] - a[1]
            if code == MUL:
                return a[0] * a[1]
            return a[0] / a[1] if exact is None else exact("div")(a[0], a[1])

        return _fold(_tree(self._tokens), leaf, op)

    def to_latex(self):
        """LaTeX of the formula with the feature names (multi-letter names upright)."""

        def name(s):
            if len(s) == 1:
                return s
            return r"\mathrm{" + s.replace("_", r"\_") + "}"

        def leaf(n):
            if n[0] == "v":
                return name(self._names[n[1]])
            if n[0] == "p":
                return f"c_{{{n[1]}}}"
            v = n[1]
            if _same(v, PI):
                return r"\pi"
            if _same(v, E):
                return "e"
            if math.isnan(v):
                return r"\mathrm{NaN}"
            if math.isinf(v):
                return r"\infty" if v > 0 else r"-\infty"
            return _fixed4(v)

        def op(code, a):
            if code == NEG:
                return rf"\left(-{a[0]}\right)"
            if code == RECIP:
                return rf"\frac{{1}}{{{a[0]}}}"
            if code == SQRT:
                return rf"\sqrt{{{a[0]}}}"
            if code == ABS:
                return rf"\left|{a[0]}\right|"
            if code == KIV:
                return rf"\operatorname{{kiv}}\left({a[0]}, {a[1]}\right)"
            if code == DIV:
                return rf"\frac{{{a[0]}}}{{{a[1]}}}"
            if code in (ADD, SUB):
                return rf"\left({a[0]} {_INFIX[code]} {a[1]}\right)"
            if code == MUL:
                return rf"\left({a[0]} \cdot {a[1]}\right)"
            return rf"\{_CODE_NAMES[code]}\left({a[0]}\right)"

        return _fold(_tree(self._tokens), leaf, op)

    def to_python(self, name="f"):
        """numpy source defining ``name(X)``: X of shape (n_samples, n_features) (or 1-D for one feature)
        to the formula's values, with the guards of the search (NaN where one trips). It agrees with
        ``evaluate`` to the rounding of numpy's elementary functions."""
        if not name.isidentifier() or keyword.iskeyword(name) or name in self._names or name in ("np", "X"):
            raise ValueError(f"name: {name!r} cannot name the function")
        used = set()

        def leaf(n):
            if n[0] == "v":
                return self._names[n[1]]
            v = n[-1]
            if _same(v, PI):
                return "np.pi"
            if _same(v, E):
                return "np.e"
            if math.isnan(v):
                return "np.nan"
            if math.isinf(v):
                return "np.inf" if v > 0 else "-np.inf"
            return repr(v)

        def op(code, a):
            used.add("ok")
            if code in _PY_HELPERS:
                used.add(code)
                fn = {RECIP: "_kiv_recip", LN: "_kiv_ln", SQRT: "_kiv_sqrt", DIV: "_kiv_div", KIV: "_kiv_kiv"}[code]
                return f"{fn}({', '.join(a)})"
            if code == NEG:
                return f"_kiv_ok(-{a[0]})"
            if code in (ADD, SUB, MUL):
                return f"_kiv_ok({a[0]} {_INFIX[code]} {a[1]})"
            fn = {EXP: "np.exp", SIN: "np.sin", COS: "np.cos", ABS: "np.abs"}[code]
            return f"_kiv_ok({fn}({a[0]}))"

        body = _fold(_tree(self._tokens), leaf, op)
        lines = ["import numpy as np", ""]
        for key in ("ok", RECIP, LN, SQRT, DIV, KIV):
            if key in used:
                lines.append(_PY_HELPERS[key])
        lines.append("")
        lines.append(f"def {name}(X):")
        lines.append(f'    """{self.text}"""'.replace("\\", "\\\\"))
        lines.append("    X = np.asarray(X, dtype=np.float64)")
        if len(self._names) == 1:
            lines.append("    if X.ndim == 1:")
            lines.append("        X = X[:, None]")
        for i, n in enumerate(self._names):
            lines.append(f"    {n} = X[:, {i}]")
        lines.append("    with np.errstate(all='ignore'):")
        lines.append(f"        return np.broadcast_to({body}, X.shape[:1]).astype(np.float64)")
        return "\n".join(lines) + "\n"

    # -- value semantics --

    def _key(self):
        err, rmse, score, r2 = (None if v is None else struct.pack("<d", v)
                                for v in (self._error, self._rmse, self._score, self._r2))
        toks = tuple((k, i, struct.pack("<d", v)) for k, i, v in self._tokens)
        return (toks, self._names, err, self._stopped, self._settings, rmse, score, r2)

    def __eq__(self, other):
        if not isinstance(other, Formula):
            return NotImplemented
        return self._key() == other._key()

    def __hash__(self):
        return hash(self._key())

    def __reduce__(self):
        return (_restore, (self._tokens, self._names, self._error, self._stopped, self._settings, self._rmse,
                           self._score, self._r2))

    def __repr__(self):
        parts = [repr(self.text)]
        if self._error is not None:
            parts.append(f"error={self._error:.3g}")
        parts.append(f"complexity={self.complexity}")
        if self._names != default_feature_names(len(self._names)):
            parts.append(f"feature_names={self._names!r}")
        if self._stopped:
            parts.append("stopped_early=True")
        return f"Formula({', '.join(parts)})"

    def __str__(self):
        return self.text


def _restore(tokens, names, error, stopped, settings, rmse=None, score=None, r2=None):
    return Formula(tokens, names, error=error, stopped_early=stopped, settings=settings, rmse=rmse, score=score,
                   r2=r2)
