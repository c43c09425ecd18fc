// The algebra kernels: batch geometric products and batch octonion products.
#include <vector>

#include "args.hpp"
#include "frame.hpp"
#include "kiv/multivector.hpp"
#include "kiv/octonion.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

constexpr const char* kOctonionParams[] = {"a_batch", "b_batch"};
constexpr const char* kGeometricParams[] = {"a_batch", "b_batch", "signature"};

PyObject* octonion_mul_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"octonion_mul_n()", kOctonionParams, 2};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const auto as = to_oct(a[0], "a_batch");
        const auto bs = to_oct(a[1], "b_batch");
        return from_f64_arrays<8>(kiv::octonion_mul_n(as, bs), false);
    });
}

PyObject* geometric_product_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"geometric_product_n()", kGeometricParams, 3};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const auto as = to_f64_vecs(a[0], "a_batch");
        const auto bs = to_f64_vecs(a[1], "b_batch");
        const auto signature = to_i8_vec(a[2], "signature");
        return from_f64_vecs(kiv::geometric_product_n(as, bs, signature));
    });
}

}  // namespace

PyMethodDef octonion_mul_n_def = {
    "octonion_mul_n", as_cfunction(octonion_mul_n), kFastcall,
    "octonion_mul_n(a_batch, b_batch)\n--\n\n"
    "Batch octonion multiplication (Rayon parallel).\n"
    "a_batch, b_batch: each is a Vec of 8-element float lists.\n"
    "Returns Vec of 8-element results."};
PyMethodDef geometric_product_n_def = {
    "geometric_product_n", as_cfunction(geometric_product_n), kFastcall,
    "geometric_product_n(a_batch, b_batch, signature)\n--\n\n"
    "Batch geometric product (Rayon parallel).\n"
    "a_batch, b_batch: each is a Vec of flat coefficient arrays.\n"
    "signature: +1/-1 per basis vector (length n, algebra dimension = 2^n).\n"
    "Returns Vec of result coefficient arrays."};

}  // namespace kivpy
