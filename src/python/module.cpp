// Module initialisation: one module object for the interpreter of the process, and the registration table in
// its fixed order.
#include <atomic>
#include <cstdint>

#include "cache.hpp"
#include "frame.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

// One entry of the registration table: a class (its type getter) or a module function.
struct Entry {
    LazyType* type;
    const char* class_name;
    PyMethodDef* function;
};

Entry class_entry(LazyType* type, const char* name) { return {type, name, nullptr}; }
Entry function_entry(PyMethodDef* def) { return {nullptr, nullptr, def}; }

// The order here is the order of the module's namespace and of __all__.
const Entry* registration_table(std::size_t& count) {
    static const Entry entries[] = {
        class_entry(&point_class, "KIVPoint"),
        class_entry(&pair_class, "KIVPair"),
        class_entry(&knot_class, "KIVKnot"),
        function_entry(&schrodinger_step_n_def),
        function_entry(&rotate_phase_n_def),
        function_entry(&simulate_pulses_n_def),
        function_entry(&boost_n_def),
        function_entry(&exp_n_def),
        function_entry(&ln_n_def),
        function_entry(&add_n_def),
        function_entry(&sub_n_def),
        function_entry(&mul_n_def),
        function_entry(&div_n_def),
        function_entry(&sqrt_n_def),
        function_entry(&sin_n_def),
        function_entry(&cos_n_def),
        function_entry(&tension_n_def),
        function_entry(&pow_n_def),
        function_entry(&christoffel_batch_n_def),
        function_entry(&octonion_mul_n_def),
        function_entry(&geometric_product_n_def),
        class_entry(&search_result_class, "PySearchResult"),
        function_entry(&find_formula_def),
    };
    count = sizeof(entries) / sizeof(entries[0]);
    return entries;
}

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "kiv_core",  // m_name
    "",          // m_doc
    0,           // m_size: no per-module state
    nullptr,     // m_methods: functions are attached during registration
    nullptr, nullptr, nullptr, nullptr,
};

// The process-wide module record: the interpreter that owns the module, and the module.
std::atomic<std::int64_t> g_owner_interpreter{-1};
Cached g_module;

// Run by Py_FinalizeEx after the owning interpreter has ended (no Python call is allowed here): the module,
// its types and every cached object went with it. An application that starts a new interpreter in this
// process then imports a new module instead of the finished one's.
bool g_exit_hook = false;

void interpreter_ended() noexcept {
    Cached::forget_all();
    g_owner_interpreter.store(-1);
    g_exit_hook = false;
}

// Registers interpreter_ended once per interpreter. Without it a later interpreter would be handed
// this one's dead module, so a full table of exit functions fails the import instead.
void register_exit_hook() {
    if (g_exit_hook) return;
    if (Py_AtExit(interpreter_ended) != 0) {
        raise(PyExc_ImportError, "kiv_core cannot register its clean-up for the end of the interpreter");
    }
    g_exit_hook = true;
}

// The module's __all__ list, created empty when the module has none.
Ref all_list(PyObject* module) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyErrorSet{};
        PyErr_Clear();
        all = require(PyList_New(0));
        require_status(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    if (!PyList_Check(all.get())) raise(PyExc_TypeError, "`__all__` must be a list");
    return all;
}

void add_entry(PyObject* module, PyObject* module_name, const Entry& e) {
    Ref object;
    Ref name;
    if (e.type != nullptr) {
        object = Ref::new_ref(reinterpret_cast<PyObject*>(e.type->get()));
        name = require(PyUnicode_FromString(e.class_name));
    } else {
        object = require(PyCFunction_NewEx(e.function, module, module_name));
        name = require(PyObject_GetAttrString(object.get(), "__name__"));
    }
    Ref all = all_list(module);
    require_status(PyList_Append(all.get(), name.get()));
    require_status(PyObject_SetAttr(module, name.get(), object.get()));
}

Ref init_module() {
    PyInterpreterState* interp = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interp);
    if (id == -1) throw PyErrorSet{};
    std::int64_t expected = -1;
    if (!g_owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        raise(PyExc_ImportError,
              "kiv_core does not support sub-interpreters: it can only be imported once per process, "
              "by the interpreter that imported it first");
    }
    if (g_module.get() != nullptr) return Ref::new_ref(g_module.get());

    register_exit_hook();
    Ref module = require(PyModule_Create2(&g_module_def, PYTHON_API_VERSION));
    Ref module_name = require(PyUnicode_FromString("kiv_core"));
    std::size_t count = 0;
    const Entry* entries = registration_table(count);
    for (std::size_t i = 0; i < count; ++i) add_entry(module.get(), module_name.get(), entries[i]);
    // Private names: in the namespace only.
    Ref rebuild = require(PyCFunction_NewEx(&search_result_def, module.get(), module_name.get()));
    require_status(PyModule_AddObjectRef(module.get(), search_result_def.ml_name, rebuild.get()));
    g_module.keep(Ref::new_ref(module.get()).release());  // kept until the interpreter ends
    return module;
}

}  // namespace
}  // namespace kivpy

PyMODINIT_FUNC PyInit_kiv_core(void) { return kivpy::run([] { return kivpy::init_module(); }); }
