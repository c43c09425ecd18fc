// The call frame of kiv._native's Python-visible functions: C++ failures become ordinary exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>

#include "kiv/memory.hpp"
#include "python/errors.hpp"

namespace kivnp {

using kivpy::PyErrorSet;
using kivpy::raise;
using kivpy::Ref;
using kivpy::require;
using kivpy::require_status;

// Runs body (which returns a Ref) and hands its object to the interpreter, or NULL with the exception
// set: the Python error already set, MemoryError for a request refused before it was made or an allocation
// that failed, RuntimeError for any other failure of the core (an internal fault, never the caller's).
template <class Body>
PyObject* call(Body&& body) noexcept {
    try {
        return body().release();
    } catch (const PyErrorSet&) {
    } catch (const kiv::OutOfMemory& e) {
        PyErr_SetString(PyExc_MemoryError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_RuntimeError, "internal failure in kiv: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "internal failure in kiv");
    }
    return nullptr;
}

// Gives a ufunc made here the identity of the kiv attribute it becomes, so that it shows as kiv.NAME and
// pickles by reference (Dask's distributed workers receive it that way).
inline void name_in_kiv(PyObject* ufunc, const char* name) {
    Ref module = require(PyUnicode_FromString("kiv"));
    Ref qualname = require(PyUnicode_FromString(name));
    require_status(PyObject_SetAttrString(ufunc, "__module__", module.get()));
    require_status(PyObject_SetAttrString(ufunc, "__qualname__", qualname.get()));
}

}  // namespace kivnp
