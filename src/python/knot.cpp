// KIVKnot: the Python class over the knot record; its moves are the core's knot functions.
#include "kiv/text.hpp"
#include "registry.hpp"
#include "values.hpp"

namespace kivpy {
namespace {

using kiv::Knot;
using kiv::Point;

constexpr const char* kKnotParams[] = {"point", "n", "theta"};

const FnDesc kNew{"KIVKnot.__new__()", kKnotParams, 1};

Knot read_new(const Args& a) {
    const Point point = value_arg<Point>(a[0], "point");
    // An omitted n or theta takes its default; an explicit None is converted (and fails).
    const std::int64_t n = a.given(1) ? to_i64(a[1], "n") : 0;
    const double theta = a.given(2) ? float_arg(a[2], "theta") : 0.0;
    return kiv::make_knot(point, n, theta);
}

PyObject* knot_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return new_entry(type, kNew, args, kwargs, read_new);
}

PyObject* knot_call(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return call_entry(type, kNew, args, nargsf, kwnames, read_new);
}

#define KIV_KNOT_METHOD(NAME, WORK)                                                                    \
    PyObject* NAME(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {       \
        static const FnDesc desc{"KIVKnot." #NAME "()", {}, 0};                                        \
        return method_entry<Knot>(desc, self, args, nargs, kwnames, [](Knot k, const Args&) { WORK; }); \
    }

KIV_KNOT_METHOD(mirror_pulse, return new_value(kiv::knot_pulse(k)))
KIV_KNOT_METHOD(pulse, return new_value(kiv::knot_pulse(k)))
KIV_KNOT_METHOD(three_one_flip, return new_value(kiv::three_one_flip(k)))
KIV_KNOT_METHOD(flip, return new_value(kiv::three_one_flip(k)))
KIV_KNOT_METHOD(tread_yield, return require(PyLong_FromLongLong(kiv::tread_yield(k))))

#undef KIV_KNOT_METHOD

// A fresh point on every access.
PyObject* get_point(PyObject* self, void*) {
    return getter_entry<Knot>(self, [](Knot k) { return new_value(kiv::knot_point(k)); });
}

PyObject* get_phase(PyObject* self, void*) {
    return getter_entry<Knot>(self, [](Knot k) { return from_f64(k.theta); });
}

PyObject* get_flip_count(PyObject* self, void*) {
    return getter_entry<Knot>(self, [](Knot k) { return require(PyLong_FromLongLong(k.n)); });
}

PyObject* get_rho(PyObject* self, void*) {
    return getter_entry<Knot>(self, [](Knot k) { return from_f64(kiv::rho(k)); });
}

PyObject* knot_repr(PyObject* self) {
    return getter_entry<Knot>(self, [](Knot k) { return from_text(kiv::format_knot(k)); });
}

PyMethodDef g_methods[] = {
    {"mirror_pulse", as_cfunction(mirror_pulse), kFastcall, "mirror_pulse($self)\n--\n\n"},
    {"pulse", as_cfunction(pulse), kFastcall, "pulse($self)\n--\n\nAlias for mirror_pulse()."},
    {"three_one_flip", as_cfunction(three_one_flip), kFastcall, "three_one_flip($self)\n--\n\n"},
    {"flip", as_cfunction(flip), kFastcall, "flip($self)\n--\n\nAlias for three_one_flip()."},
    {"tread_yield", as_cfunction(tread_yield), kFastcall, "tread_yield($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"point", get_point, nullptr, nullptr, nullptr},
    {"phase", get_phase, nullptr, nullptr, nullptr},
    {"flip_count", get_flip_count, nullptr, nullptr, nullptr},
    {"rho", get_rho, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("KIVKnot(point, n=0, theta=0.0)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(knot_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(knot_repr)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.KIVKnot", sizeof(Instance<Knot>), 0, kValueTypeFlags, g_slots};

LazyType g_type(&g_spec, knot_call);

}  // namespace

PyTypeObject* ValueClass<Knot>::type() { return g_type.for_instance(name); }

PyTypeObject* knot_type() { return g_type.get(); }

}  // namespace kivpy
