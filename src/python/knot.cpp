// KIVKnot: the Python class over the knot record; its moves are the core's knot functions.
#include "kiv/text.hpp"
#include "registry.hpp"
#include "values.hpp"

namespace kivpy {
namespace {

using kiv::Knot;
using kiv::Point;

constexpr auto kNew =
    constructor<Knot>("", arg<InstanceOf<Point>>("point"), opt<I64>("n", "0"), opt<F64>("theta", "0.0"));

Knot read_new(const BoundOf<kNew>& a) {
    const auto& [point, n, theta] = kNew.params;
    const Point at = a[point];
    // An omitted n or theta takes its default; an explicit None is converted (and fails).
    const std::int64_t count = a.get(n, 0);
    return kiv::make_knot(at, count, a.get(theta, 0.0));
}

constexpr auto kMirrorPulse = method<Knot>("mirror_pulse", "");
constexpr auto kPulse = method<Knot>("pulse", "Alias for mirror_pulse().");
constexpr auto kThreeOneFlip = method<Knot>("three_one_flip", "");
constexpr auto kFlip = method<Knot>("flip", "Alias for three_one_flip().");
constexpr auto kTreadYield = method<Knot>("tread_yield", "");

Ref from_i64(std::int64_t v) { return require(PyLong_FromLongLong(v)); }

Ref pulse(Knot k, const Bound<0>&) { return new_value(kiv::knot_pulse(k)); }
Ref flip(Knot k, const Bound<0>&) { return new_value(kiv::three_one_flip(k)); }
Ref tread_yield(Knot k, const Bound<0>&) { return from_i64(kiv::tread_yield(k)); }

// Pickle and copy: the class and its constructor arguments (point, n, theta). The stored angle is
// already reduced, and reducing it again gives it back unchanged, so the round trip is exact.
constexpr auto kReduce = noargs_method<Knot>("__reduce__", kReduceDoc);

Ref reduce(const Knot& k) {
    Ref args = require(Py_BuildValue("(NLd)", new_value(kiv::knot_point(k)).release(), static_cast<long long>(k.n),
                                     k.theta));
    return reduction(reinterpret_cast<PyObject*>(ClassOf<Knot>::type()), std::move(args));
}

PyMethodDef g_methods[] = {
    method_def<kMirrorPulse, pulse>(),
    method_def<kPulse, pulse>(),
    method_def<kThreeOneFlip, flip>(),
    method_def<kFlip, flip>(),
    method_def<kTreadYield, tread_yield>(),
    method_def<kReduce, reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

// The point attribute is a fresh point on every access.
Ref get_point(Knot k) { return new_value(kiv::knot_point(k)); }
Ref get_phase(Knot k) { return from_f64(k.theta); }
Ref get_flip_count(Knot k) { return from_i64(k.n); }
Ref get_rho(Knot k) { return from_f64(kiv::rho(k)); }
Ref repr(Knot k) { return from_text(kiv::format_knot(k)); }

PyGetSetDef g_getset[] = {
    getter<Knot, get_point>("point"),
    getter<Knot, get_phase>("phase"),
    getter<Knot, get_flip_count>("flip_count"),
    getter<Knot, get_rho>("rho"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_of<kNew>)},
    {Py_tp_new, reinterpret_cast<void*>(constructor_new<kNew, read_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Knot>)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<Knot, repr>)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.KIVKnot", sizeof(Instance<Knot>), 0, kClassTypeFlags, g_slots};

}  // namespace

LazyType knot_class(&g_spec, constructor_call<kNew, read_new>);

}  // namespace kivpy
