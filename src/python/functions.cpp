// The element-wise batch functions: bind, convert, run the core kernel, convert the result.
#include <algorithm>
#include <span>
#include <vector>

#include "args.hpp"
#include "frame.hpp"
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
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(begin + i), require(PyFloat_FromDouble(out[i])).release());
        }
    }
    return list;
}

template <Unary Op>
PyObject* unary(const FnDesc& desc, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run([&] {
        Args a = bind(desc, args, nargs, kwnames);
        const std::vector<double> xs = to_f64_vec(a[0], desc.params[0]);
        const std::span<const double> in(xs);
        return blockwise_list(xs.size(), [&](std::size_t begin, std::span<double> out) {
            kiv::batch::apply_into(Op, in.subspan(begin, out.size()), out);
        });
    });
}

template <Binary Op>
PyObject* binary(const FnDesc& desc, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run([&] {
        Args a = bind(desc, args, nargs, kwnames);
        const std::vector<double> as = to_f64_vec(a[0], desc.params[0]);
        const std::vector<double> bs = to_f64_vec(a[1], desc.params[1]);
        const std::span<const double> lhs(as), rhs(bs);
        return blockwise_list(std::min(as.size(), bs.size()), [&](std::size_t begin, std::span<double> out) {
            kiv::batch::apply_into(Op, lhs.subspan(begin, out.size()), rhs.subspan(begin, out.size()), out);
        });
    });
}

constexpr const char* kXs[] = {"xs"};
constexpr const char* kYs[] = {"ys"};
constexpr const char* kAsBs[] = {"as_", "bs"};
constexpr const char* kXsYs[] = {"xs", "ys"};
constexpr const char* kBasesExps[] = {"bases", "exps"};

// One entry point per function: the interpreter calls a plain function pointer.
#define KIV_UNARY(NAME, PARAMS, OP)                                                        \
    PyObject* NAME(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) { \
        static const FnDesc desc{#NAME "()", PARAMS, 1};                                    \
        return unary<OP>(desc, args, nargs, kwnames);                                      \
    }
#define KIV_BINARY(NAME, PARAMS, OP)                                                       \
    PyObject* NAME(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) { \
        static const FnDesc desc{#NAME "()", PARAMS, 2};                                    \
        return binary<OP>(desc, args, nargs, kwnames);                                     \
    }

KIV_UNARY(exp_n, kXs, Unary::Exp)
KIV_UNARY(ln_n, kYs, Unary::Ln)
KIV_UNARY(sqrt_n, kXs, Unary::Sqrt)
KIV_UNARY(sin_n, kXs, Unary::Sin)
KIV_UNARY(cos_n, kXs, Unary::Cos)
KIV_BINARY(add_n, kAsBs, Binary::Add)
KIV_BINARY(sub_n, kAsBs, Binary::Sub)
KIV_BINARY(mul_n, kAsBs, Binary::Mul)
KIV_BINARY(div_n, kAsBs, Binary::Div)
KIV_BINARY(tension_n, kXsYs, Binary::Tension)
KIV_BINARY(pow_n, kBasesExps, Binary::Pow)

#undef KIV_UNARY
#undef KIV_BINARY

}  // namespace

PyMethodDef exp_n_def = {"exp_n", as_cfunction(exp_n), kFastcall,
                         "exp_n(xs)\n--\n\nBatch exp: [exp(x) for x in xs] — Rayon parallel."};
PyMethodDef ln_n_def = {"ln_n", as_cfunction(ln_n), kFastcall,
                        "ln_n(ys)\n--\n\nBatch ln: [ln(y) for y in ys] — Rayon parallel, frame-shift guard applied."};
PyMethodDef add_n_def = {"add_n", as_cfunction(add_n), kFastcall,
                         "add_n(as_, bs)\n--\n\nBatch add: [a + b for (a, b) in zip(as_, bs)] — Rayon parallel."};
PyMethodDef sub_n_def = {"sub_n", as_cfunction(sub_n), kFastcall,
                         "sub_n(as_, bs)\n--\n\nBatch sub: [a - b for (a, b) in zip(as_, bs)] — Rayon parallel."};
PyMethodDef mul_n_def = {"mul_n", as_cfunction(mul_n), kFastcall,
                         "mul_n(as_, bs)\n--\n\nBatch mul: [a * b for (a, b) in zip(as_, bs)] — Rayon parallel."};
PyMethodDef div_n_def = {"div_n", as_cfunction(div_n), kFastcall,
                         "div_n(as_, bs)\n--\n\nBatch div: [a / b] — NaN for |b| < 1e-300 — Rayon parallel."};
PyMethodDef sqrt_n_def = {"sqrt_n", as_cfunction(sqrt_n), kFastcall,
                          "sqrt_n(xs)\n--\n\nBatch sqrt: [sqrt(|x|) for x in xs] — Rayon parallel."};
PyMethodDef sin_n_def = {"sin_n", as_cfunction(sin_n), kFastcall,
                         "sin_n(xs)\n--\n\nBatch sin: [sin(x) for x in xs] — Rayon parallel."};
PyMethodDef cos_n_def = {"cos_n", as_cfunction(cos_n), kFastcall,
                         "cos_n(xs)\n--\n\nBatch cos: [cos(x) for x in xs] — Rayon parallel."};
PyMethodDef tension_n_def = {
    "tension_n", as_cfunction(tension_n), kFastcall,
    "tension_n(xs, ys)\n--\n\nBatch kiv_tension: [kiv(x, y) for (x, y) in zip(xs, ys)] — Rayon parallel."};
PyMethodDef pow_n_def = {
    "pow_n", as_cfunction(pow_n), kFastcall,
    "pow_n(bases, exps)\n--\n\nBatch pow: [|base|^exp for (base, exp) in zip(bases, exps)] — Rayon parallel."};

}  // namespace kivpy
