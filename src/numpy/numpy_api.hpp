// numpy's C API for every source of the kiv package's native module (module.cpp imports it once).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL kiv_native_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL kiv_native_UFUNC_API
#ifndef KIV_NATIVE_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>
