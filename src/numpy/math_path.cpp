// kiv.math_path(): how this process computes exp and log, and kiv._native._math_check() for benchmarks.
#include <string>

#include "areas.hpp"
#include "frame.hpp"
#include "kiv/vmath.hpp"

namespace kivnp {
namespace {

PyObject* py_math_path(PyObject*, PyObject*) {
    return call([&]() -> Ref {
        const kiv::vmath::PathReport& p = kiv::vmath::path();
        const std::string text = p.reason.empty() ? p.name : p.name + " (" + p.reason + ")";
        return require(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

PyObject* py_math_check(PyObject*, PyObject*) {
    return call([&]() -> Ref {
        const kiv::vmath::PathReport& p = kiv::vmath::path();
        return require(Py_BuildValue("(s#s#nd)", p.name.data(), static_cast<Py_ssize_t>(p.name.size()), p.reason.data(),
                                     static_cast<Py_ssize_t>(p.reason.size()), static_cast<Py_ssize_t>(p.inputs),
                                     p.seconds));
    });
}

PyMethodDef g_methods[] = {
    {"math_path", py_math_path, METH_NOARGS,
     "math_path()\n--\n\n"
     "The path kiv's exp and ln take in this process: \"avx512-fma\" or \"avx2-fma\" (vector replicas of the C\n"
     "library's exp and log as it runs them on CPUs with FMA), \"avx2\" or \"sse2\" (replicas of its build\n"
     "without FMA), or \"libm\" (the library itself, element by element). Either way every result has the\n"
     "library's bits. The first use in a process chooses: the fastest replica the CPU runs that agrees with\n"
     "the library on every bit of a fixed check. When a replica was turned down, the reason follows in\n"
     "parentheses. KIV_MATH=libm (set before the first use) forces the library; KIV_MATH=NAME tries only that\n"
     "replica."},
    {"_math_check", py_math_check, METH_NOARGS,
     "_math_check()\n--\n\n(path, reason, inputs checked, seconds the choice took), for benchmarks and tests."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_math_path(PyObject* module) {
    // The path is chosen here, at import, so that the check's cost shows in the import time rather than in
    // the first call.
    kiv::vmath::path();
    return PyModule_AddFunctions(module, g_methods);
}

}  // namespace kivnp
