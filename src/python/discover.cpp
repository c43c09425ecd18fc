// Formula discovery from Python: find_formula and its read-only result class PySearchResult.
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "args.hpp"
#include "frame.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/search.hpp"
#include "kiv/text.hpp"
#include "registry.hpp"
#include "types.hpp"

namespace kivpy {
namespace {

constexpr const char kClassName[] = "PySearchResult";

// The result record: the formula text, its parameter values (always empty here), its error (the
// penalised score) and its token count.
struct SearchResultRec {
    std::string formula;
    std::vector<double> params;
    double error = 0.0;
    std::uint64_t complexity = 0;
};

using SearchResultObject = Instance<SearchResultRec>;

const SearchResultRec& receiver(PyObject* self);

// ---- slots and members --------------------------------------------------------------------------------

PyObject* result_new(PyTypeObject*, PyObject*, PyObject*) {
    return run([]() -> Ref { raise(PyExc_TypeError, "No constructor defined for PySearchResult"); });
}

// The record holds owning members, so it is built in place and destroyed before the memory is freed.
void result_dealloc(PyObject* self) {
    reinterpret_cast<SearchResultObject*>(self)->value.~SearchResultRec();
    dealloc_instance(self);
}

PyObject* result_repr(PyObject* self) {
    return run([&] {
        const SearchResultRec& r = receiver(self);
        std::string text = "SearchResult(formula='" + r.formula + "', error=" + kiv::format_exponent(r.error, 2) +
                           ", complexity=" + std::to_string(r.complexity) + ")";
        return from_text(text);
    });
}

PyObject* get_formula(PyObject* self, void*) {
    return run([&] { return from_text(receiver(self).formula); });
}

PyObject* get_complexity(PyObject* self, void*) {
    return run([&] {
        return require(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(receiver(self).complexity)));
    });
}

PyObject* get_params(PyObject* self, void*) {
    return run([&] { return from_f64_vec(receiver(self).params); });
}

PyObject* get_error(PyObject* self, void*) {
    return run([&] { return from_f64(receiver(self).error); });
}

PyObject* to_latex(PyObject* self, PyObject*) {
    return run([&] { return from_text(kiv::discover::to_latex_text(receiver(self).formula)); });
}

PyObject* to_python(PyObject* self, PyObject*) {
    return run([&] { return from_text(kiv::discover::to_python_text(receiver(self).formula)); });
}

PyGetSetDef g_getset[] = {
    {"formula", get_formula, nullptr, nullptr, nullptr},
    {"complexity", get_complexity, nullptr, nullptr, nullptr},
    {"params", get_params, nullptr, nullptr, nullptr},
    {"error", get_error, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef g_methods[] = {
    {"to_latex", to_latex, METH_NOARGS, "to_latex($self)\n--\n\n"},
    {"to_python", to_python, METH_NOARGS, "to_python($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python-facing formula discovery result.")},
    {Py_tp_new, reinterpret_cast<void*>(result_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_getset, g_getset},
    {Py_tp_methods, g_methods},
    {0, nullptr},
};

PyType_Spec g_spec = {
    "kiv_core.PySearchResult",
    static_cast<int>(sizeof(SearchResultObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    g_slots,
};

LazyType g_type(&g_spec);

const SearchResultRec& receiver(PyObject* self) {
    return instance_value<SearchResultRec>(self, g_type.get(), kClassName);
}

Ref new_result(SearchResultRec&& rec) {
    PyTypeObject* type = g_type.for_instance(kClassName);
    Ref obj = require(type->tp_alloc(type, 0));
    new (&reinterpret_cast<SearchResultObject*>(obj.get())->value) SearchResultRec(std::move(rec));
    return obj;
}

// ---- find_formula -------------------------------------------------------------------------------------

constexpr const char* kParams[] = {"x_data",     "y_data",  "max_complexity", "beam_width",
                                   "precision_goal", "use_trig", "use_kiv",    "complexity_penalty"};

PyObject* find_formula(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"find_formula()", kParams, 2};
    return run([&]() -> Ref {
        Args a = bind(desc, args, nargs, kwnames);
        const kiv::discover::Columns x_data = to_f64_vecs(a[0], kParams[0]);
        const std::vector<double> y_data = to_f64_vec(a[1], kParams[1]);
        kiv::discover::SearchConfig config;  // the defaults of every parameter not given
        if (a.given(2)) config.max_complexity = to_u64(a[2], kParams[2]);
        if (a.given(3)) config.beam_width = to_u64(a[3], kParams[3]);
        if (a.given(4)) config.precision_goal = to_f64(a[4], kParams[4]);
        if (a.given(5)) config.use_trig = to_bool(a[5], kParams[5]);
        if (a.given(6)) config.use_kiv = to_bool(a[6], kParams[6]);
        if (a.given(7)) config.complexity_penalty = to_f64(a[7], kParams[7]);

        auto best = kiv::discover::beam_search(x_data, y_data, x_data.size(), config);
        if (!best) return Ref::borrow(Py_None);
        SearchResultRec rec;
        rec.formula = std::move(best->formula);
        rec.params = std::move(best->params);
        rec.error = best->score;
        rec.complexity = best->complexity;
        best.reset();  // the tokens and the rest of the search's data go before the object is made
        return new_result(std::move(rec));
    });
}

}  // namespace

PyTypeObject* search_result_type() { return g_type.get(); }

PyMethodDef find_formula_def = {
    "find_formula", as_cfunction(find_formula), METH_FASTCALL | METH_KEYWORDS,
    "find_formula(x_data, y_data, max_complexity=8, beam_width=2000, precision_goal=1e-10, use_trig=True, "
    "use_kiv=True, complexity_penalty=0.001)\n--\n\nFind a formula fitting x_data → y_data.\nx_data: list of "
    "column vectors (one per variable), or a single 1D list for univariate.\ny_data: target values (1D list)."};

}  // namespace kivpy
