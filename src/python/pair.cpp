// KIVPair: the Python class over the pair record, with its static constructors, number slots and
// tolerance equality; every operation calls the shared pair formulas.
#include "kiv/text.hpp"
#include "registry.hpp"
#include "values.hpp"

namespace kivpy {
namespace {

using kiv::Pair;

constexpr auto kNew = constructor<Pair>("", arg<F64>("real"), arg<F64>("imag"));

Pair read_new(const BoundOf<kNew>& a) {
    const auto& [real, imag] = kNew.params;
    return Pair{a[real], a[imag]};
}

// ---- static methods (no self) ----------------------------------------------------------------------

constexpr auto kFromValues = static_method<Pair>("from_values", "", arg<F64>("real"), arg<F64>("imag"));

Ref from_values(const BoundOf<kFromValues>& a) {
    const auto& [real, imag] = kFromValues.params;
    return new_value(Pair{a[real], a[imag]});
}

constexpr auto kFromPolar = static_method<Pair>("from_polar", "", arg<F64>("r"), arg<F64>("theta"));

Ref from_polar(const BoundOf<kFromPolar>& a) {
    const auto& [r, theta] = kFromPolar.params;
    const double modulus = a[r];
    return new_value(kiv::from_polar(modulus, a[theta]));
}

constexpr auto kUnitI = static_method<Pair>("unit_i", "");
constexpr auto kOne = static_method<Pair>("one", "");
constexpr auto kZero = static_method<Pair>("zero", "");

template <double Real, double Imag>
Ref constant(const Bound<0>&) {
    return new_value(Pair{Real, Imag});
}

// ---- methods and attributes ------------------------------------------------------------------------

constexpr auto kRotatePhase = method<Pair>("rotate_phase", "", arg<F64>("angle"));

Ref rotate_phase(Pair p, const BoundOf<kRotatePhase>& a) {
    return new_value(kiv::rotate_phase(p, a[std::get<0>(kRotatePhase.params)]));
}

constexpr auto kConjugate = method<Pair>("conjugate", "");

Ref conjugate(Pair p, const Bound<0>&) { return new_value(kiv::conjugate(p)); }

// Pickle and copy: the class and its constructor arguments.
constexpr auto kReduce = noargs_method<Pair>("__reduce__", kReduceDoc);

Ref reduce(const Pair& p) {
    return reduction(reinterpret_cast<PyObject*>(ClassOf<Pair>::type()), float_tuple(p.real, p.imag));
}

Ref get_real(Pair p) { return from_f64(p.real); }
Ref get_imag(Pair p) { return from_f64(p.imag); }
Ref modulus(Pair p) { return from_f64(kiv::modulus(p)); }
Ref get_argument(Pair p) { return from_f64(kiv::argument(p)); }
Ref repr(Pair p) { return from_text(kiv::format_pair(p)); }

// ---- number and comparison slots -------------------------------------------------------------------

// Both operands must be pairs; anything else (either side) is NotImplemented, with no reflected forms.
template <Pair (*Op)(Pair, Pair) noexcept>
PyObject* arithmetic(PyObject* left, PyObject* right) {
    return run([&] {
        if (!is_value<Pair>(left) || !is_value<Pair>(right)) return not_implemented();
        return new_value(Op(value_of<Pair>(left), value_of<Pair>(right)));
    });
}

PyObject* richcompare(PyObject* self, PyObject* other, int op) {
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
    method_def<kFromValues, from_values>(),
    method_def<kFromPolar, from_polar>(),
    method_def<kUnitI, constant<0.0, 1.0>>(),
    method_def<kOne, constant<1.0, 0.0>>(),
    method_def<kZero, constant<0.0, 0.0>>(),
    method_def<kRotatePhase, rotate_phase>(),
    method_def<kConjugate, conjugate>(),
    method_def<kReduce, reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

// real_tension and imag_tension are the same fields under the frame's names.
PyGetSetDef g_getset[] = {
    getter<Pair, get_real>("real"),
    getter<Pair, get_imag>("imag"),
    getter<Pair, get_real>("real_tension"),
    getter<Pair, get_imag>("imag_tension"),
    getter<Pair, modulus>("modulus"),
    getter<Pair, get_argument>("argument"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_of<kNew>)},
    {Py_tp_new, reinterpret_cast<void*>(constructor_new<kNew, read_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Pair>)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<Pair, repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_nb_add, reinterpret_cast<void*>(arithmetic<kiv::pair_add>)},
    {Py_nb_subtract, reinterpret_cast<void*>(arithmetic<kiv::pair_sub>)},
    {Py_nb_multiply, reinterpret_cast<void*>(arithmetic<kiv::pair_mul>)},
    {Py_nb_true_divide, reinterpret_cast<void*>(arithmetic<kiv::pair_div>)},
    {Py_nb_absolute, reinterpret_cast<void*>(unary_entry<Pair, modulus>)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.KIVPair", sizeof(Instance<Pair>), 0, kClassTypeFlags, g_slots};

}  // namespace

LazyType pair_class(&g_spec, constructor_call<kNew, read_new>);

}  // namespace kivpy
