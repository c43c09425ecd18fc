// The algebra kernels: batch geometric products and batch octonion products.
#include <vector>

#include "entry.hpp"
#include "kiv/multivector.hpp"
#include "kiv/octonion.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

constexpr auto kOctonionMulN = function("octonion_mul_n",
                                        "Batch octonion multiplication (Rayon parallel).\n"
                                        "a_batch, b_batch: each is a Vec of 8-element float lists.\n"
                                        "Returns Vec of 8-element results.",
                                        arg<F64Rows<8>>("a_batch"), arg<F64Rows<8>>("b_batch"));

Ref octonion_mul_n(const BoundOf<kOctonionMulN>& a) {
    const auto& [a_batch, b_batch] = kOctonionMulN.params;
    const auto as = a[a_batch];
    const auto bs = a[b_batch];
    const auto products = kiv::octonion_mul_n(as, bs);
    return from_f64_rows(std::span(products));
}

constexpr auto kGeometricProductN =
    function("geometric_product_n",
             "Batch geometric product (Rayon parallel).\n"
             "a_batch, b_batch: each is a Vec of flat coefficient arrays.\n"
             "signature: +1/-1 per basis vector (length n, algebra dimension = 2^n).\n"
             "Returns Vec of result coefficient arrays.",
             arg<F64Vecs>("a_batch"), arg<F64Vecs>("b_batch"), arg<I8Vec>("signature"));

Ref geometric_product_n(const BoundOf<kGeometricProductN>& a) {
    const auto& [a_batch, b_batch, signature] = kGeometricProductN.params;
    const auto as = a[a_batch];
    const auto bs = a[b_batch];
    const auto products = kiv::geometric_product_n(as, bs, a[signature]);
    return from_f64_rows(std::span(products));
}

}  // namespace

PyMethodDef octonion_mul_n_def = method_def<kOctonionMulN, octonion_mul_n>();
PyMethodDef geometric_product_n_def = method_def<kGeometricProductN, geometric_product_n>();

}  // namespace kivpy
