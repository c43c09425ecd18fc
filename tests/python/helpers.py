"""Objects and checks the test modules share: number-like arguments, the panic exception, closed value types."""

import weakref

import pytest

import kiv_core


class FloatLike:
    """Not a float, but converts to `value` through __float__."""

    def __init__(self, value=2.5):
        self.value = value

    def __float__(self):
        return self.value


class IndexLike:
    """Not an int, but converts to `value` through __index__."""

    def __init__(self, value=3):
        self.value = value

    def __index__(self):
        return self.value


def _panic_type():
    # The panic exception is not among the module's names; a search over no columns raises it.
    try:
        kiv_core.find_formula([], [1.0])
    except BaseException as exc:  # noqa: BLE001 - the panic exception derives from BaseException
        return type(exc)
    raise AssertionError("expected the panic exception")


PanicException = _panic_type()


def assert_immutable_and_closed(obj, attributes):
    """The instance's attributes cannot be set or deleted, it takes no new ones and no weak reference, and
    its class can be neither subclassed nor changed."""
    cls = type(obj)
    for name in attributes:
        with pytest.raises(AttributeError):
            setattr(obj, name, 0.0)
        with pytest.raises(AttributeError):
            delattr(obj, name)
    with pytest.raises(AttributeError):
        obj.other = 1
    assert not hasattr(obj, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(obj)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    for name in (*attributes, "__new__", "extra"):
        with pytest.raises(TypeError, match="immutable type"):
            setattr(cls, name, None)
