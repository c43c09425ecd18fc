// KIVPair: the Python class over the pair record, with its static constructors, number slots and
// tolerance equality; every operation calls the shared pair formulas.
#include "kiv/text.hpp"
#include "registry.hpp"
#include "values.hpp"

namespace kivpy {
namespace {

using kiv::Pair;

constexpr const char* kRealImag[] = {"real", "imag"};
constexpr const char* kPolar[] = {"r", "theta"};
constexpr const char* kAngle[] = {"angle"};

const FnDesc kNew{"KIVPair.__new__()", kRealImag, 2};

Pair read_new(const Args& a) {
    const double real = float_arg(a[0], "real");
    const double imag = float_arg(a[1], "imag");
    return Pair{real, imag};
}

PyObject* pair_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return new_entry(type, kNew, args, kwargs, read_new);
}

PyObject* pair_call(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return call_entry(type, kNew, args, nargsf, kwnames, read_new);
}

// ---- static methods (no self) ----------------------------------------------------------------------

PyObject* from_values(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPair.from_values()", kRealImag, 2};
    return static_entry(desc, args, nargs, kwnames, [](const Args& a) {
        const double real = float_arg(a[0], "real");
        const double imag = float_arg(a[1], "imag");
        return new_value(Pair{real, imag});
    });
}

PyObject* from_polar(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPair.from_polar()", kPolar, 2};
    return static_entry(desc, args, nargs, kwnames, [](const Args& a) {
        const double r = float_arg(a[0], "r");
        const double theta = float_arg(a[1], "theta");
        return new_value(kiv::from_polar(r, theta));
    });
}

#define KIV_PAIR_CONSTANT(NAME, REAL, IMAG)                                                         \
    PyObject* NAME(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {         \
        static const FnDesc desc{"KIVPair." #NAME "()", {}, 0};                                     \
        return static_entry(desc, args, nargs, kwnames, [](const Args&) { return new_value(Pair{REAL, IMAG}); }); \
    }

KIV_PAIR_CONSTANT(unit_i, 0.0, 1.0)
KIV_PAIR_CONSTANT(one, 1.0, 0.0)
KIV_PAIR_CONSTANT(zero, 0.0, 0.0)

#undef KIV_PAIR_CONSTANT

// ---- methods and attributes ------------------------------------------------------------------------

PyObject* rotate_phase(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPair.rotate_phase()", kAngle, 1};
    return method_entry<Pair>(desc, self, args, nargs, kwnames, [](Pair p, const Args& a) {
        return new_value(kiv::rotate_phase(p, float_arg(a[0], "angle")));
    });
}

PyObject* conjugate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPair.conjugate()", {}, 0};
    return method_entry<Pair>(desc, self, args, nargs, kwnames,
                              [](Pair p, const Args&) { return new_value(kiv::conjugate(p)); });
}

// real_tension and imag_tension are the same fields under the frame's names.
PyObject* get_real(PyObject* self, void*) {
    return getter_entry<Pair>(self, [](Pair p) { return from_f64(p.real); });
}

PyObject* get_imag(PyObject* self, void*) {
    return getter_entry<Pair>(self, [](Pair p) { return from_f64(p.imag); });
}

PyObject* get_modulus(PyObject* self, void*) {
    return getter_entry<Pair>(self, [](Pair p) { return from_f64(kiv::modulus(p)); });
}

PyObject* get_argument(PyObject* self, void*) {
    return getter_entry<Pair>(self, [](Pair p) { return from_f64(kiv::argument(p)); });
}

PyObject* pair_repr(PyObject* self) {
    return getter_entry<Pair>(self, [](Pair p) { return from_text(kiv::format_pair(p)); });
}

PyObject* pair_abs(PyObject* self) {
    return getter_entry<Pair>(self, [](Pair p) { return from_f64(kiv::modulus(p)); });
}

// ---- number and comparison slots -------------------------------------------------------------------

// Both operands must be pairs; anything else (either side) is NotImplemented, with no reflected forms.
template <Pair (*Op)(Pair, Pair) noexcept>
PyObject* arithmetic(PyObject* left, PyObject* right) {
    return run([&] {
        if (!is_value<Pair>(left) || !is_value<Pair>(right)) return not_implemented();
        return new_value(Op(value_of<Pair>(left), value_of<Pair>(right)));
    });
}

PyObject* pair_richcompare(PyObject* self, PyObject* other, int op) {
    return run([&] {
        switch (op) {
            case Py_EQ:
                if (!is_value<Pair>(self) || !is_value<Pair>(other)) return not_implemented();
                return from_bool(kiv::pair_equal(value_of<Pair>(self), value_of<Pair>(other)));
            case Py_NE: {
                // The interpreter's own equality protocol, so a non-pair falls back to identity. Not the
                // Bool variant: its identity shortcut would make a NaN pair equal to itself.
                Ref equal = require(PyObject_RichCompare(self, other, Py_EQ));
                return from_bool(require_status(PyObject_IsTrue(equal.get())) == 0);
            }
            default:
                return not_implemented();
        }
    });
}

PyMethodDef g_methods[] = {
    {"from_values", as_cfunction(from_values), kFastcall | METH_STATIC, "from_values(real, imag)\n--\n\n"},
    {"from_polar", as_cfunction(from_polar), kFastcall | METH_STATIC, "from_polar(r, theta)\n--\n\n"},
    {"unit_i", as_cfunction(unit_i), kFastcall | METH_STATIC, "unit_i()\n--\n\n"},
    {"one", as_cfunction(one), kFastcall | METH_STATIC, "one()\n--\n\n"},
    {"zero", as_cfunction(zero), kFastcall | METH_STATIC, "zero()\n--\n\n"},
    {"rotate_phase", as_cfunction(rotate_phase), kFastcall, "rotate_phase($self, angle)\n--\n\n"},
    {"conjugate", as_cfunction(conjugate), kFastcall, "conjugate($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"real", get_real, nullptr, nullptr, nullptr},
    {"imag", get_imag, nullptr, nullptr, nullptr},
    {"real_tension", get_real, nullptr, nullptr, nullptr},
    {"imag_tension", get_imag, nullptr, nullptr, nullptr},
    {"modulus", get_modulus, nullptr, nullptr, nullptr},
    {"argument", get_argument, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("KIVPair(real, imag)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(pair_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(pair_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(pair_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_nb_add, reinterpret_cast<void*>(arithmetic<kiv::pair_add>)},
    {Py_nb_subtract, reinterpret_cast<void*>(arithmetic<kiv::pair_sub>)},
    {Py_nb_multiply, reinterpret_cast<void*>(arithmetic<kiv::pair_mul>)},
    {Py_nb_true_divide, reinterpret_cast<void*>(arithmetic<kiv::pair_div>)},
    {Py_nb_absolute, reinterpret_cast<void*>(pair_abs)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.KIVPair", sizeof(Instance<Pair>), 0, kValueTypeFlags, g_slots};

LazyType g_type(&g_spec, pair_call);

}  // namespace

PyTypeObject* ValueClass<Pair>::type() { return g_type.for_instance(name); }

PyTypeObject* pair_type() { return g_type.get(); }

}  // namespace kivpy
