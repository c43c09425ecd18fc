// The areas of kiv._native, each adding its objects to the module (or raising and returning -1).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kivnp {

// kiv.exp, kiv.ln, ... kiv.tension: element-wise ufuncs.
int add_ufuncs(PyObject* module);
// kiv.octonion_mul and the builder of geometric-product gufuncs.
int add_gufuncs(PyObject* module);
// kiv.math_path: the exp and log path of the process.
int add_math_path(PyObject* module);

}  // namespace kivnp
