// kiv.octonion_mul and the geometric-product gufuncs: numpy gufuncs over the core's algebra kernels.
#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "areas.hpp"
#include "frame.hpp"
#include "kiv/multivector.hpp"
#include "kiv/octonion.hpp"
#include "numpy_api.hpp"
#include "overlap.hpp"

namespace kivnp {
namespace {

// A gufunc loop gets the outer count and the core length in dims, then the outer steps of the three
// operands followed by their core steps.
struct Records {
    std::size_t count;
    std::size_t len;
    kiv::StridedRecordsIn a, b;
    kiv::StridedRecordsOut out;
    kiv::Split split;
};

Records records(char** args, npy_intp const* dims, npy_intp const* steps) {
    Records r{static_cast<std::size_t>(dims[0]),
              static_cast<std::size_t>(dims[1]),
              {args[0], steps[0], steps[3]},
              {args[1], steps[1], steps[4]},
              {args[2], steps[2], steps[5]},
              kiv::Split::Never};
    r.split = split_for(r.count, r.len, {args[2], steps[2], steps[5]},
                        {{args[0], steps[0], steps[3]}, {args[1], steps[1], steps[4]}});
    return r;
}

// As for the element-wise loops: the lock is released around these, they touch nothing of Python, and
// the products never signal a numeric condition.
void octonion_loop(char** args, npy_intp const* dims, npy_intp const* steps, void*) {
    const Records r = records(args, dims, steps);
    try {
        kiv::octonion_mul_strided(r.count, r.a, r.b, r.out, r.split);
    } catch (...) {
        // The pool could not take the work: the calling thread does it all (this form allocates nothing).
        kiv::octonion_mul_strided(r.count, r.a, r.b, r.out, kiv::Split::Never);
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

// Everything one geometric-product gufunc keeps: numpy holds on to the loop tables, name and doc by
// pointer, and frees this block (its ptr member) with the ufunc.
struct GeometricBlock {
    PyUFuncGenericFunction loops[1];
    void* data[1];
    char types[3];
    std::uint8_t dims;
    std::int8_t signature[kiv::kMaxStridedDims];
    char core[64];
    char doc[160];
};

void geometric_loop(char** args, npy_intp const* dims, npy_intp const* steps, void* data) {
    const auto* block = static_cast<const GeometricBlock*>(data);
    const std::span<const std::int8_t> signature(block->signature, block->dims);
    const Records r = records(args, dims, steps);
    try {
        kiv::geometric_product_strided(r.count, signature, r.a, r.b, r.out, r.split);
    } catch (...) {
        try {
            kiv::geometric_product_strided(r.count, signature, r.a, r.b, r.out, kiv::Split::Never);
        } catch (...) {
            // Not even one chunk's scratch could be had. numpy looks for an exception set by a loop once
            // the loop has returned (its own integer power reports errors that way), so it is set here.
            PyGILState_STATE g = PyGILState_Ensure();
            PyErr_NoMemory();
            PyGILState_Release(g);
        }
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

PyUFuncGenericFunction g_octonion_loops[] = {octonion_loop};
void* g_octonion_data[] = {nullptr};
char g_octonion_types[] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};

// Raises the error for signature entry m, which is not -1, 0 or 1.
[[noreturn]] void bad_signature_entry(Py_ssize_t m, PyObject* item) {
    Ref repr = require(PyObject_Repr(item));
    const char* text = PyUnicode_AsUTF8(repr.get());
    if (text == nullptr) throw PyErrorSet{};
    raise(PyExc_ValueError, "signature entry " + std::to_string(m) + " is " + text + ": entries must be -1, 0 or 1");
}

// Reads a signature: a sequence of 1 to kMaxStridedDims integers, each -1, 0 or 1.
std::size_t read_signature(PyObject* arg, std::int8_t (&out)[kiv::kMaxStridedDims]) {
    Ref seq = require(PySequence_Fast(arg, "signature must be a sequence of integers (-1, 0 or 1)"));
    // Read from a tuple copy: __index__ of an entry runs Python code, which could change the list under us.
    if (PyList_Check(seq.get())) seq = require(PyList_AsTuple(seq.get()));
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    if (n == 0) raise(PyExc_ValueError, "signature is empty: give one entry (-1, 0 or 1) per basis vector");
    if (static_cast<std::size_t>(n) > kiv::kMaxStridedDims) {
        raise(PyExc_ValueError, "signature has " + std::to_string(n) + " entries: at most " +
                                    std::to_string(kiv::kMaxStridedDims) + " basis vectors are supported");
    }
    PyObject** items = PySequence_Fast_ITEMS(seq.get());
    for (Py_ssize_t m = 0; m < n; ++m) {
        int overflow = 0;
        const long v = PyLong_AsLongAndOverflow(items[m], &overflow);
        if (v == -1 && PyErr_Occurred()) throw PyErrorSet{};
        if (overflow != 0 || v < -1 || v > 1) bad_signature_entry(m, items[m]);
        out[m] = static_cast<std::int8_t>(v);
    }
    return static_cast<std::size_t>(n);
}

// _geometric_product_gufunc(signature): a new gufunc (n),(n)->(n), n = 2**len(signature), computing the
// geometric product under that diagonal metric. Built on request; kiv.geometric_product caches them.
PyObject* geometric_product_gufunc(PyObject*, PyObject* arg) {
    return call([&] {
        std::int8_t signature[kiv::kMaxStridedDims];
        const std::size_t dims = read_signature(arg, signature);
        auto* block = static_cast<GeometricBlock*>(PyArray_malloc(sizeof(GeometricBlock)));
        if (block == nullptr) throw std::bad_alloc();
        std::memset(block, 0, sizeof *block);
        block->loops[0] = geometric_loop;
        block->data[0] = block;
        block->types[0] = block->types[1] = block->types[2] = NPY_DOUBLE;
        block->dims = static_cast<std::uint8_t>(dims);
        std::memcpy(block->signature, signature, dims);
        const std::size_t n = std::size_t{1} << dims;
        std::snprintf(block->core, sizeof block->core, "(%zu),(%zu)->(%zu)", n, n, n);
        std::snprintf(block->doc, sizeof block->doc,
                      "Geometric product of multivectors of %zu blade coefficients under a diagonal metric "
                      "of %zu basis vectors.",
                      n, dims);
        PyObject* ufunc = PyUFunc_FromFuncAndDataAndSignature(block->loops, block->data, block->types, 1, 2, 1,
                                                              PyUFunc_None, "geometric_product", block->doc, 0,
                                                              block->core);
        if (ufunc == nullptr) {
            PyArray_free(block);
            throw PyErrorSet{};
        }
        reinterpret_cast<PyUFuncObject*>(ufunc)->ptr = block;
        return Ref::steal(ufunc);
    });
}

PyMethodDef g_methods[] = {
    {"_geometric_product_gufunc", geometric_product_gufunc, METH_O,
     "_geometric_product_gufunc(signature, /)\n--\n\nA new gufunc (n),(n)->(n) for the geometric product under "
     "the diagonal metric signature (n = 2**len(signature))."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_gufuncs(PyObject* module) {
    PyObject* ok = call([&] {
        require_status(PyModule_AddFunctions(module, g_methods));
        Ref ufunc = require(PyUFunc_FromFuncAndDataAndSignature(
            g_octonion_loops, g_octonion_data, g_octonion_types, 1, 2, 1, PyUFunc_None, "octonion_mul",
            "Octonion product a b over the last axis (8 coefficients, e_0 the real unit); zero coefficients "
            "are skipped, so a zero never meets an infinity.",
            0, "(8),(8)->(8)"));
        name_in_kiv(ufunc.get(), "octonion_mul");
        require_status(PyModule_AddObjectRef(module, "octonion_mul", ufunc.get()));
        return Ref::steal(Py_NewRef(Py_None));
    });
    if (ok == nullptr) return -1;
    Py_DECREF(ok);
    return 0;
}

}  // namespace kivnp
