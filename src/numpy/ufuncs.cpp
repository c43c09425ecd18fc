// kiv.exp ... kiv.tension: numpy ufuncs whose float64 loops are the core's element-wise kernels.
#include <cfenv>

#include "areas.hpp"
#include "frame.hpp"
#include "kiv/batch.hpp"
#include "numpy_api.hpp"
#include "overlap.hpp"

namespace kivnp {
namespace {

using kiv::batch::Binary;
using kiv::batch::Unary;

// The loops run with the interpreter lock released (numpy lets go of it for float64 loops over more
// than a few hundred elements) and touch nothing of Python. The kernels never signal a numeric
// condition (kiv's primitives are guarded and never raise), so the floating-point flags they leave
// behind are cleared: numpy would otherwise warn, or raise under np.errstate, for a flag that only
// the calling thread's share of the work happened to set.

void unary_loop(char** args, npy_intp const* dims, npy_intp const* steps, void* data) {
    const Unary op = *static_cast<const Unary*>(data);
    const auto n = static_cast<std::size_t>(dims[0]);
    const kiv::StridedIn x{args[0], steps[0]};
    const kiv::StridedOut out{args[1], steps[1]};
    const kiv::Split split = split_for(n, 1, {args[1], steps[1], 0}, {{args[0], steps[0], 0}});
    try {
        kiv::batch::apply_strided(op, n, x, out, split);
    } catch (...) {
        // The pool could not take the work (no memory for the hand-off): the calling thread does it all.
        kiv::batch::apply_strided(op, n, x, out, kiv::Split::Never);
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

void binary_loop(char** args, npy_intp const* dims, npy_intp const* steps, void* data) {
    const Binary op = *static_cast<const Binary*>(data);
    const auto n = static_cast<std::size_t>(dims[0]);
    const kiv::StridedIn a{args[0], steps[0]};
    const kiv::StridedIn b{args[1], steps[1]};
    const kiv::StridedOut out{args[2], steps[2]};
    const kiv::Split split =
        split_for(n, 1, {args[2], steps[2], 0}, {{args[0], steps[0], 0}, {args[1], steps[1], 0}});
    try {
        kiv::batch::apply_strided(op, n, a, b, out, split);
    } catch (...) {
        kiv::batch::apply_strided(op, n, a, b, out, kiv::Split::Never);
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

// numpy keeps pointers to these tables for the life of the ufuncs: they are static.
PyUFuncGenericFunction g_unary_loops[] = {unary_loop};
PyUFuncGenericFunction g_binary_loops[] = {binary_loop};
char g_unary_types[] = {NPY_DOUBLE, NPY_DOUBLE};
char g_binary_types[] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};

struct UnaryDesc {
    const char* name;
    Unary op;
    const char* doc;
};

struct BinaryDesc {
    const char* name;
    Binary op;
    int identity;
    const char* doc;
};

const UnaryDesc g_unary[] = {
    {"exp", Unary::Exp,
     "Guarded exponential, element-wise: exp(x), and exp(ln x) for x above 709.782712893384 (never overflows)."},
    {"ln", Unary::Ln, "Frame-shift guarded logarithm, element-wise: ln|y|, with ln(1e-300) for y = +-0."},
    {"sqrt", Unary::Sqrt, "Square root of the magnitude, element-wise: sqrt(|x|)."},
    {"sin", Unary::Sin, "Sine, element-wise (the C library's sin)."},
    {"cos", Unary::Cos, "Cosine, element-wise (the C library's cos)."},
};

const BinaryDesc g_binary[] = {
    {"add", Binary::Add, PyUFunc_Zero, "Sum, element-wise: a + b."},
    {"sub", Binary::Sub, PyUFunc_None, "Difference, element-wise: a - b."},
    {"mul", Binary::Mul, PyUFunc_One, "Product, element-wise: a * b."},
    {"div", Binary::Div, PyUFunc_None, "Guarded quotient, element-wise: a / b, and NaN where |b| < 1e-300."},
    {"pow", Binary::Pow, PyUFunc_None, "Power of the magnitude, element-wise: |a| ** b (the C library's pow)."},
    {"tension", Binary::Tension, PyUFunc_None,
     "The kiv operator, element-wise: kiv(x, y) = exp(x) - ln(y) with the guarded exp and ln, in one pass."},
};

// The loops' data pointers: the operation each ufunc applies.
void* g_unary_data[std::size(g_unary)][1];
void* g_binary_data[std::size(g_binary)][1];

void add_to(PyObject* module, Ref ufunc, const char* name) {
    name_in_kiv(ufunc.get(), name);
    require_status(PyModule_AddObjectRef(module, name, ufunc.get()));
}

}  // namespace

int add_ufuncs(PyObject* module) {
    PyObject* ok = call([&] {
        for (std::size_t i = 0; i < std::size(g_unary); ++i) {
            const UnaryDesc& d = g_unary[i];
            g_unary_data[i][0] = const_cast<Unary*>(&d.op);
            add_to(module,
                   require(PyUFunc_FromFuncAndData(g_unary_loops, g_unary_data[i], g_unary_types, 1, 1, 1,
                                                   PyUFunc_None, d.name, d.doc, 0)),
                   d.name);
        }
        for (std::size_t i = 0; i < std::size(g_binary); ++i) {
            const BinaryDesc& d = g_binary[i];
            g_binary_data[i][0] = const_cast<Binary*>(&d.op);
            add_to(module,
                   require(PyUFunc_FromFuncAndData(g_binary_loops, g_binary_data[i], g_binary_types, 1, 2, 1,
                                                   d.identity, d.name, d.doc, 0)),
                   d.name);
        }
        return Ref::steal(Py_NewRef(Py_None));
    });
    if (ok == nullptr) return -1;
    Py_DECREF(ok);
    return 0;
}

}  // namespace kivnp
