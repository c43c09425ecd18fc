"""The complete registration table: all 23 names in __all__ and in the namespace, in order, each with its
text signature and docstring. Unlike the per-entry checks of test_module, nothing here is skipped: it
fails while any entry is missing."""

import pytest

import kiv_core
from test_module import NAMES, REGISTRATION


def test_all_lists_the_23_names_in_order():
    assert len(NAMES) == 23
    assert kiv_core.__all__ == NAMES
    assert [n for n in vars(kiv_core) if n in NAMES] == NAMES


@pytest.mark.parametrize("name, signature, doc", REGISTRATION, ids=NAMES)
def test_entry_is_registered_with_its_signature_and_doc(name, signature, doc):
    assert hasattr(kiv_core, name), f"{name} is not registered"
    obj = getattr(kiv_core, name)
    assert obj.__module__ == "kiv_core"
    assert obj.__text_signature__ == signature
    if doc is not None:
        assert obj.__doc__ == doc
    else:
        assert obj.__doc__ in (None, "")
