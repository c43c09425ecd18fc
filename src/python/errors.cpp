// The error texts shared by every conversion: type names, "cannot be converted", the argument prefix.
#include "errors.hpp"

namespace kivpy {

std::string type_qualname(PyObject* o) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(o)));
    const char* utf8 = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return utf8;
}

void raise_cannot_convert(PyObject* o, const char* target) {
    std::string text = "'";
    text += type_qualname(o);
    text += "' object cannot be converted to '";
    text += target;
    text += "'";
    raise(PyExc_TypeError, text);
}

void fail_argument(const char* name) {
    PyObject* raw = PyErr_GetRaisedException();
    if (raw == nullptr) {
        raise(PyExc_SystemError, "conversion failed without an exception");
    }
    Ref exc = Ref::steal(raw);
    if (Py_TYPE(exc.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(exc.release());
        throw PyErrorSet{};
    }
    Ref message = require(PyObject_Str(exc.get()));
    Ref text = require(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    Ref remapped = require(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    // The new error carries the replaced error's cause (SetCause steals the reference).
    PyException_SetCause(remapped.get(), PyException_GetCause(exc.get()));
    PyErr_SetRaisedException(remapped.release());
    throw PyErrorSet{};
}

}  // namespace kivpy
