// Formula discovery from Python: find_formula and its read-only result class PySearchResult.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "entry.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/search.hpp"
#include "kiv/text.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

// The result record: the formula text, its parameter values (always empty here), its error (the
// penalised score) and its token count.
struct SearchResultRec {
    std::string formula;
    std::vector<double> params;
    double error = 0.0;
    std::uint64_t complexity = 0;
};

}  // namespace

template <>
struct ClassOf<SearchResultRec> {
    static constexpr const char* name = "PySearchResult";
    static PyTypeObject* type() { return search_result_class.for_instance(name); }
};

namespace {

using Result = SearchResultRec;

// ---- slots and members --------------------------------------------------------------------------------

PyObject* result_new(PyTypeObject*, PyObject*, PyObject*) {
    return run([]() -> Ref { raise(PyExc_TypeError, "No constructor defined for PySearchResult"); });
}

Ref repr(const Result& r) {
    return from_text("SearchResult(formula='" + r.formula + "', error=" + kiv::format_exponent(r.error, 2) +
                     ", complexity=" + std::to_string(r.complexity) + ")");
}

Ref get_formula(const Result& r) { return from_text(r.formula); }
Ref get_complexity(const Result& r) {
    return require(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(r.complexity)));
}
Ref get_params(const Result& r) { return from_f64_vec(r.params); }
Ref get_error(const Result& r) { return from_f64(r.error); }

constexpr auto kToLatex = noargs_method<Result>("to_latex", "");
constexpr auto kToPython = noargs_method<Result>("to_python", "");

Ref to_latex(const Result& r) { return from_text(kiv::discover::to_latex_text(r.formula)); }
Ref to_python(const Result& r) { return from_text(kiv::discover::to_python_text(r.formula)); }

// ---- pickle and copy: a private reconstructor, since the class has no constructor --------------------

// A count read from a pickle: an int that is not negative (ValueError otherwise) and fits 64 bits.
struct Count {
    using type = std::uint64_t;
    static std::uint64_t read(PyObject* o) {
        if (!PyLong_Check(o)) raise_cannot_convert(o, "int");
        const unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PyErrorSet{};
            PyErr_Clear();
            raise(PyExc_ValueError, "a count must be an int from 0 to 2**64 - 1");
        }
        return v;
    }
};

constexpr auto kSearchResult =
    function("_search_result", "Rebuild a PySearchResult from the state its __reduce__ gives (for pickle and copy).",
             arg<Str>("formula"), arg<F64Vec>("params"), arg<F64>("error"), arg<Count>("complexity"));

Ref search_result(const BoundOf<kSearchResult>& a) {
    const auto& [formula, params, error, complexity] = kSearchResult.params;
    // Every field is read before the object is made: a malformed state builds nothing.
    Result rec{a[formula], a[params], a[error], a[complexity]};
    return new_value(std::move(rec));
}

constexpr auto kReduce = noargs_method<Result>("__reduce__", kReduceDoc);

Ref reduce(const Result& r) {
    Ref module = require(PyImport_ImportModule("kiv_core"));
    Ref rebuild = require(PyObject_GetAttrString(module.get(), kSearchResult.name));
    Ref args = require(Py_BuildValue("(NNdK)", get_formula(r).release(), get_params(r).release(), r.error,
                                     static_cast<unsigned long long>(r.complexity)));
    return reduction(rebuild.get(), std::move(args));
}

PyGetSetDef g_getset[] = {
    getter<Result, get_formula>("formula"),
    getter<Result, get_complexity>("complexity"),
    getter<Result, get_params>("params"),
    getter<Result, get_error>("error"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef g_methods[] = {
    method_def<kToLatex, to_latex>(),
    method_def<kToPython, to_python>(),
    method_def<kReduce, reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python-facing formula discovery result.")},
    {Py_tp_new, reinterpret_cast<void*>(result_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Result>)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<Result, repr>)},
    {Py_tp_getset, g_getset},
    {Py_tp_methods, g_methods},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.PySearchResult", static_cast<int>(sizeof(Instance<Result>)), 0, kClassTypeFlags,
                      g_slots};

// ---- find_formula -------------------------------------------------------------------------------------

constexpr auto kFindFormula = function(
    "find_formula",
    "Find a formula fitting x_data → y_data.\nx_data: list of column vectors (one per variable), or a single 1D list "
    "for univariate.\ny_data: target values (1D list).",
    arg<F64Vecs>("x_data"), arg<F64Vec>("y_data"), opt<U64>("max_complexity", "8"), opt<U64>("beam_width", "2000"),
    opt<F64>("precision_goal", "1e-10"), opt<Bool>("use_trig", "True"), opt<Bool>("use_kiv", "True"),
    opt<F64>("complexity_penalty", "0.001"));

Ref find_formula(const BoundOf<kFindFormula>& a) {
    const auto& [x_data, y_data, max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty] =
        kFindFormula.params;
    const kiv::discover::Columns xs = a[x_data];
    const std::vector<double> ys = a[y_data];
    kiv::discover::SearchConfig config;  // the defaults of every parameter not given
    config.max_complexity = a.get(max_complexity, config.max_complexity);
    config.beam_width = a.get(beam_width, config.beam_width);
    config.precision_goal = a.get(precision_goal, config.precision_goal);
    config.use_trig = a.get(use_trig, config.use_trig);
    config.use_kiv = a.get(use_kiv, config.use_kiv);
    config.complexity_penalty = a.get(complexity_penalty, config.complexity_penalty);

    auto best = kiv::discover::beam_search(xs, ys, xs.size(), config);
    if (!best) return Ref::new_ref(Py_None);
    Result rec;
    rec.formula = std::move(best->formula);
    rec.params = std::move(best->params);
    rec.error = best->score;
    rec.complexity = best->complexity;
    best.reset();  // the tokens and the rest of the search's data go before the object is made
    return new_value(std::move(rec));
}

}  // namespace

LazyType search_result_class(&g_spec);

PyMethodDef find_formula_def = method_def<kFindFormula, find_formula>();
PyMethodDef search_result_def = method_def<kSearchResult, search_result>();

}  // namespace kivpy
