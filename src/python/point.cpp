// KIVPoint: the Python class over the point record; every method calls the shared point formulas.
#include "kiv/text.hpp"
#include "registry.hpp"
#include "values.hpp"

namespace kivpy {
namespace {

using kiv::Point;
using Args0 = Bound<0>;

constexpr auto kNew = constructor<Point>("", arg<F64>("x"), arg<F64>("y"));

Point read_new(const BoundOf<kNew>& a) {
    const auto& [x, y] = kNew.params;
    return Point{a[x], a[y]};
}

// The methods without parameters: their declarations and their work on the point.
constexpr auto kTension = method<Point>("tension", "");
constexpr auto kKiv = method<Point>("kiv", "Alias for tension() — kiv(x, y) = exp(x) - ln(y).");
constexpr auto kMirrorPulse = method<Point>("mirror_pulse", "");
constexpr auto kPulse = method<Point>("pulse", "Alias for mirror_pulse().");
constexpr auto kFrameShift = method<Point>("frame_shift", "");
constexpr auto kIsSlipping = method<Point>("is_slipping", "");
constexpr auto kPair = method<Point>("pair", "Returns (exp(x), ln(|y|)) as an KIVPair — canonical frame coordinates.");
constexpr auto kEuclideanDelta = method<Point>("euclidean_delta", "Euclidean delta: sqrt(exp(2x) + (ln y)^2).");

Ref tension(Point p, const Args0&) { return from_f64(kiv::tension(p)); }
Ref mirror_pulse(Point p, const Args0&) { return new_value(kiv::mirror_pulse(p)); }
Ref frame_shift(Point p, const Args0&) { return new_value(kiv::frame_shift(p)); }
Ref is_slipping(Point p, const Args0&) { return from_bool(kiv::is_slipping(p)); }
Ref pair(Point p, const Args0&) { return new_value(kiv::frame_pair(p)); }
Ref euclidean_delta(Point p, const Args0&) { return from_f64(kiv::euclidean_delta(p)); }

constexpr auto kConservesTension =
    method<Point>("conserves_tension", "", arg<InstanceOf<Point>>("next"), arg<F64>("tol"));

Ref conserves_tension(Point p, const BoundOf<kConservesTension>& a) {
    const auto& [next, tol] = kConservesTension.params;
    const Point n = a[next];
    return from_bool(kiv::conserves_tension(p, n, a[tol]));
}

constexpr auto kMinkowskiDelta = method<Point>("minkowski_delta",
                                               "Minkowski interval sqrt(|exp(2x) - (c*ln y)^2|).\n"
                                               "plus_signature=true means (+---): time-like when exp(2x) > (c*ln y)^2.",
                                               arg<Bool>("plus_signature"), arg<F64>("c"));

Ref minkowski_delta(Point p, const BoundOf<kMinkowskiDelta>& a) {
    const auto& [plus_signature, c] = kMinkowskiDelta.params;
    const bool plus = a[plus_signature];
    return from_f64(kiv::minkowski_delta(p, plus, a[c]));
}

constexpr auto kBoost = method<Point>("boost",
                                      "Lorentz boost by rapidity phi. Returns new KIVPoint with identical Δ_M.\n"
                                      "Boost: t' = t*cosh(phi) - (x/c)*sinh(phi), x' = x*cosh(phi) - t*c*sinh(phi)\n"
                                      "where t = exp(x_coord), x = ln(y_coord).",
                                      arg<F64>("phi"), arg<F64>("c"));

Ref boost(Point p, const BoundOf<kBoost>& a) {
    const auto& [phi, c] = kBoost.params;
    const double angle = a[phi];
    return new_value(kiv::boost(p, angle, a[c]));
}

// Pickle and copy: the class and its constructor arguments.
constexpr auto kReduce = noargs_method<Point>("__reduce__", kReduceDoc);

Ref reduce(const Point& p) {
    return reduction(reinterpret_cast<PyObject*>(ClassOf<Point>::type()), float_tuple(p.x, p.y));
}

PyMethodDef g_methods[] = {
    method_def<kTension, tension>(),
    method_def<kKiv, tension>(),
    method_def<kMirrorPulse, mirror_pulse>(),
    method_def<kPulse, mirror_pulse>(),
    method_def<kFrameShift, frame_shift>(),
    method_def<kIsSlipping, is_slipping>(),
    method_def<kConservesTension, conserves_tension>(),
    method_def<kPair, pair>(),
    method_def<kEuclideanDelta, euclidean_delta>(),
    method_def<kMinkowskiDelta, minkowski_delta>(),
    method_def<kBoost, boost>(),
    method_def<kReduce, reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

Ref get_x(Point p) { return from_f64(p.x); }
Ref get_y(Point p) { return from_f64(p.y); }
Ref repr(Point p) { return from_text(kiv::format_point(p)); }

PyGetSetDef g_getset[] = {
    getter<Point, get_x>("x"),
    getter<Point, get_y>("y"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_of<kNew>)},
    {Py_tp_new, reinterpret_cast<void*>(constructor_new<kNew, read_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Point>)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<Point, repr>)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.KIVPoint", sizeof(Instance<Point>), 0, kClassTypeFlags, g_slots};

}  // namespace

LazyType point_class(&g_spec, constructor_call<kNew, read_new>);

}  // namespace kivpy
