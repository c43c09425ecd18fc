// The kiv package's native module: numpy ufuncs and gufuncs over the core, and discovery without the lock.
#define KIV_NATIVE_IMPORTS_NUMPY
#include "numpy_api.hpp"

#include "areas.hpp"

#include "discover.hpp"

namespace {

int exec_module(PyObject* module) {
    if (PyArray_ImportNumPyAPI() < 0) return -1;
    if (PyUFunc_ImportUFuncAPI() < 0) return -1;
    // One registration call per area.
    if (kivnp::add_ufuncs(module) < 0) return -1;
    if (kivnp::add_gufuncs(module) < 0) return -1;
    if (kivnp::add_math_path(module) < 0) return -1;
    if (add_discover(module) < 0) return -1;
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "kiv._native", nullptr, 0, nullptr, g_slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&g_def); }
