"""Shows kiv_core's signatures with the types of its stubs, and its docstrings as the plain text they are.

kiv_core is a native module: autodoc sees its text signatures (names and defaults) but no types. The
types live in the stub package the wheel installs (kiv_core-stubs); this extension reads it once and gives
autodoc each entry's annotated signature, with the stubs' private aliases written out. kiv_core's
docstrings (and those of kiv's ufuncs) are plain text, in which "|x|" or "as_" would read as markup: their special characters
are escaped, and a static method's docstring that is only the text of the staticmethod type is dropped.
"""

import ast
import re
from pathlib import Path

# The stubs' private aliases, as a reader would say them.
_ALIASES = [
    (re.compile(r"_Sequence\[_FloatPair\]"), "Sequence[tuple[float, float]]"),
    (re.compile(r"_Sequence\[_Floats\]"), "Sequence[Sequence[float]]"),
    (re.compile(r"_Sequence\["), "Sequence["),
    (re.compile(r"\b_Floats\b"), "Sequence[float]"),
    (re.compile(r"\b_FloatPair\b"), "tuple[float, float]"),
    (re.compile(r"\b_Float\b"), "float"),
    (re.compile(r"\bSupportsIndex\b"), "int"),
]


def _readable(text):
    for pattern, replacement in _ALIASES:
        text = pattern.sub(replacement, text)
    return text


# The site is built from a checkout: the stubs of the same checkout (the wheel installs these).
STUBS = Path(__file__).resolve().parents[2] / "stubs" / "kiv_core-stubs" / "__init__.pyi"


def _signatures(path):
    """Qualified name -> (parameters text, return annotation text), self and cls left out."""
    found = {}

    def visit(body, prefix):
        for node in body:
            if isinstance(node, ast.ClassDef):
                visit(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.FunctionDef):
                args = node.args
                if args.posonlyargs or args.args:
                    first = (args.posonlyargs or args.args)[0].arg
                    if first in ("self", "cls"):
                        if args.posonlyargs:
                            args.posonlyargs = args.posonlyargs[1:]
                        else:
                            args.args = args.args[1:]
                returns = ast.unparse(node.returns) if node.returns is not None else None
                name = f"{prefix}{node.name}"
                found[name] = (_readable(f"({ast.unparse(args)})"), returns and _readable(returns))
                if node.name == "__new__":  # the class's own signature
                    found[prefix.rstrip(".")] = (found[name][0], None)

    visit(ast.parse(path.read_text()).body, "kiv_core.")
    return found


def _process_signature(app, what, name, obj, options, signature, return_annotation):
    if not name.startswith("kiv_core."):
        return None
    typed = app.env.kiv_core_signatures.get(name)
    if typed is None:
        return None
    params, returns = typed
    if what == "property":
        return "", returns
    return params, returns


_MARKUP = re.compile(r"([\\`*|_<>\[\]])")


def _native(name, obj):
    # kiv_core's entries, and the ufuncs of kiv._native, whose docstrings are written in C++ as plain text.
    return name.startswith("kiv_core.") or type(obj).__name__ == "ufunc" or type(getattr(obj, "ufunc", None)).__name__ == "ufunc"


def _process_docstring(app, what, name, obj, options, lines):
    if not _native(name, obj):
        return
    if "\n".join(lines).strip() == (staticmethod.__doc__ or "").strip():
        lines[:] = []
        return
    lines[:] = [_MARKUP.sub(r"\\\1", line) for line in lines]


def _builder_inited(app):
    app.env.kiv_core_signatures = _signatures(STUBS)


def setup(app):
    app.connect("builder-inited", _builder_inited)
    # Before numpydoc's handlers (priority 500), so that they see the signature and the escaped text.
    app.connect("autodoc-process-signature", _process_signature, priority=100)
    app.connect("autodoc-process-docstring", _process_docstring, priority=100)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
