// Raising and checking Python errors: the "an error is already set" exception and its small helpers.
#pragma once

#include <string>

#include "ref.hpp"

namespace kivpy {

// Thrown when a C-API call has failed and left its exception set; the call frame turns it into NULL.
struct PyErrorSet {};

// Wraps a new reference returned by the C API; a NULL means its error is set.
inline Ref require(PyObject* p) {
    if (p == nullptr) throw PyErrorSet{};
    return Ref::steal(p);
}

// Checks an int status of the C API (negative means an error is set).
inline int require_status(int rc) {
    if (rc < 0) throw PyErrorSet{};
    return rc;
}

// Sets an exception of the given type and text and throws PyErrorSet.
[[noreturn]] inline void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PyErrorSet{};
}

[[noreturn]] inline void raise(PyObject* type, const std::string& message) { raise(type, message.c_str()); }

// The qualified name of o's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* o);

// Raises TypeError "'TYPE' object cannot be converted to 'TARGET'" for o.
[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target);

// Re-raises the pending error under the argument-prefix rule for the parameter name: a TypeError becomes
// "argument 'NAME': <message>" keeping the original's cause; other errors pass unchanged. Throws PyErrorSet.
[[noreturn]] void fail_argument(const char* name);

// Runs a conversion body; on failure applies the argument-prefix rule for the parameter name.
template <class Body>
auto converting(const char* name, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const PyErrorSet&) {
        fail_argument(name);
    }
}

}  // namespace kivpy
