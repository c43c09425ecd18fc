"""Every entry's binder speaks with the names of its text signature: both come from one declaration."""

import pytest

import kiv_core

INSTANCES = {
    "KIVPoint": kiv_core.KIVPoint(0.5, 2.0),
    "KIVPair": kiv_core.KIVPair(1.0, 2.0),
    "KIVKnot": kiv_core.KIVKnot(kiv_core.KIVPoint(0.5, 2.0)),
}


def entries():
    """(display name, callable, parameters as (name, has default)) of every entry with a binder."""
    for name in kiv_core.__all__:
        obj = getattr(kiv_core, name)
        if not isinstance(obj, type):
            yield name, obj, obj.__text_signature__
        elif name in INSTANCES:
            yield f"{name}.__new__", obj, obj.__text_signature__
            for attr in vars(obj):
                if not attr.startswith("__") and callable(getattr(obj, attr)):
                    yield f"{name}.{attr}", getattr(INSTANCES[name], attr), getattr(obj, attr).__text_signature__


def parameters(signature):
    inner = signature[1:-1].replace("$self", "").strip(", ")
    return [(p.split("=")[0], "=" in p) for p in inner.split(", ") if p]


def listed(names):
    quoted = [f"'{n}'" for n in names]
    return " and ".join(quoted) if len(quoted) <= 2 else ", ".join(quoted[:-1]) + ", and " + quoted[-1]


ENTRIES = list(entries())


@pytest.mark.parametrize("display, call, signature", ENTRIES, ids=[e[0] for e in ENTRIES])
def test_binder_texts_follow_the_signature(display, call, signature):
    params = parameters(signature)
    names = [n for n, _ in params]
    required = [n for n, has_default in params if not has_default]
    with pytest.raises(TypeError) as info:
        call(**{n: None for n in names}, zzz=1)
    assert str(info.value) == f"{display}() got an unexpected keyword argument 'zzz'"
    given = len(names) + 1
    counts = f"{len(names)}" if len(required) == len(names) else f"from {len(required)} to {len(names)}"
    with pytest.raises(TypeError) as info:
        call(*([None] * given))
    was = "was" if given == 1 else "were"
    assert str(info.value) == f"{display}() takes {counts} positional arguments but {given} {was} given"
    if required:
        with pytest.raises(TypeError) as info:
            call()
        plural = "argument" if len(required) == 1 else "arguments"
        assert str(info.value) == f"{display}() missing {len(required)} required positional {plural}: {listed(required)}"


def test_every_entry_is_covered():
    assert len(ENTRIES) == 19 + 3 + 11 + 7 + 5  # functions, constructors, point, pair and knot methods
