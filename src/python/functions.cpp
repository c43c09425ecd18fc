// The element-wise batch functions: bind, convert, run the core kernel, convert the result.
#include <algorithm>
#include <span>
#include <vector>

#include "entry.hpp"
#include "kiv/batch.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

using kiv::batch::Binary;
using kiv::batch::Unary;

// Computes the n results block by block into a small buffer and turns each block into floats as soon as
// it is done: the result never exists as a whole native vector, and the buffer stays in cache.
// compute(begin, out) fills out with the results begin .. begin + out.size().
template <class Compute>
Ref blockwise_list(std::size_t n, Compute&& compute) {
    constexpr std::size_t kBlock = std::size_t{1} << 15;
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(n)));
    std::vector<double> block(std::min(n, kBlock));
    for (std::size_t begin = 0; begin < n; begin += kBlock) {
        const std::span<double> out(block.data(), std::min(kBlock, n - begin));
        compute(begin, out);
        for (std::size_t i = 0; i < out.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(begin + i), from_f64(out[i]).release());
        }
    }
    return list;
}

template <const auto& D, Unary Op>
Ref unary(const BoundOf<D>& a) {
    const std::vector<double> xs = a[std::get<0>(D.params)];
    const std::span<const double> in(xs);
    return blockwise_list(xs.size(), [&](std::size_t begin, std::span<double> out) {
        kiv::batch::apply_into(Op, in.subspan(begin, out.size()), out);
    });
}

template <const auto& D, Binary Op>
Ref binary(const BoundOf<D>& a) {
    const std::vector<double> as = a[std::get<0>(D.params)];
    const std::vector<double> bs = a[std::get<1>(D.params)];
    const std::span<const double> lhs(as), rhs(bs);
    return blockwise_list(std::min(as.size(), bs.size()), [&](std::size_t begin, std::span<double> out) {
        kiv::batch::apply_into(Op, lhs.subspan(begin, out.size()), rhs.subspan(begin, out.size()), out);
    });
}

constexpr auto kExpN = function("exp_n", "Batch exp: [exp(x) for x in xs] — Rayon parallel.", arg<F64Vec>("xs"));
constexpr auto kLnN = function("ln_n", "Batch ln: [ln(y) for y in ys] — Rayon parallel, frame-shift guard applied.",
                               arg<F64Vec>("ys"));
constexpr auto kSqrtN =
    function("sqrt_n", "Batch sqrt: [sqrt(|x|) for x in xs] — Rayon parallel.", arg<F64Vec>("xs"));
constexpr auto kSinN = function("sin_n", "Batch sin: [sin(x) for x in xs] — Rayon parallel.", arg<F64Vec>("xs"));
constexpr auto kCosN = function("cos_n", "Batch cos: [cos(x) for x in xs] — Rayon parallel.", arg<F64Vec>("xs"));
constexpr auto kAddN = function("add_n", "Batch add: [a + b for (a, b) in zip(as_, bs)] — Rayon parallel.",
                                arg<F64Vec>("as_"), arg<F64Vec>("bs"));
constexpr auto kSubN = function("sub_n", "Batch sub: [a - b for (a, b) in zip(as_, bs)] — Rayon parallel.",
                                arg<F64Vec>("as_"), arg<F64Vec>("bs"));
constexpr auto kMulN = function("mul_n", "Batch mul: [a * b for (a, b) in zip(as_, bs)] — Rayon parallel.",
                                arg<F64Vec>("as_"), arg<F64Vec>("bs"));
constexpr auto kDivN = function("div_n", "Batch div: [a / b] — NaN for |b| < 1e-300 — Rayon parallel.",
                                arg<F64Vec>("as_"), arg<F64Vec>("bs"));
constexpr auto kTensionN =
    function("tension_n", "Batch kiv_tension: [kiv(x, y) for (x, y) in zip(xs, ys)] — Rayon parallel.",
             arg<F64Vec>("xs"), arg<F64Vec>("ys"));
constexpr auto kPowN =
    function("pow_n", "Batch pow: [|base|^exp for (base, exp) in zip(bases, exps)] — Rayon parallel.",
             arg<F64Vec>("bases"), arg<F64Vec>("exps"));

}  // namespace

PyMethodDef exp_n_def = method_def<kExpN, unary<kExpN, Unary::Exp>>();
PyMethodDef ln_n_def = method_def<kLnN, unary<kLnN, Unary::Ln>>();
PyMethodDef add_n_def = method_def<kAddN, binary<kAddN, Binary::Add>>();
PyMethodDef sub_n_def = method_def<kSubN, binary<kSubN, Binary::Sub>>();
PyMethodDef mul_n_def = method_def<kMulN, binary<kMulN, Binary::Mul>>();
PyMethodDef div_n_def = method_def<kDivN, binary<kDivN, Binary::Div>>();
PyMethodDef sqrt_n_def = method_def<kSqrtN, unary<kSqrtN, Unary::Sqrt>>();
PyMethodDef sin_n_def = method_def<kSinN, unary<kSinN, Unary::Sin>>();
PyMethodDef cos_n_def = method_def<kCosN, unary<kCosN, Unary::Cos>>();
PyMethodDef tension_n_def = method_def<kTensionN, binary<kTensionN, Binary::Tension>>();
PyMethodDef pow_n_def = method_def<kPowN, binary<kPowN, Binary::Pow>>();

}  // namespace kivpy
