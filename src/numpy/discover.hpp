// Formula discovery for the kiv package: the search run without the interpreter lock, and evaluation.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Adds _discover, _evaluate and _render to the module; -1 with an exception set on failure.
int add_discover(PyObject* module);
