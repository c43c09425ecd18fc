// KIVPoint: the Python class over the point record; every method calls the shared point formulas.
#include "kiv/text.hpp"
#include "registry.hpp"
#include "values.hpp"

namespace kivpy {
namespace {

using kiv::Point;

constexpr const char* kXY[] = {"x", "y"};
constexpr const char* kNextTol[] = {"next", "tol"};
constexpr const char* kSignatureC[] = {"plus_signature", "c"};
constexpr const char* kPhiC[] = {"phi", "c"};

const FnDesc kNew{"KIVPoint.__new__()", kXY, 2};

Point read_new(const Args& a) {
    const double x = float_arg(a[0], "x");
    const double y = float_arg(a[1], "y");
    return Point{x, y};
}

PyObject* point_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return new_entry(type, kNew, args, kwargs, read_new);
}

PyObject* point_call(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return call_entry(type, kNew, args, nargsf, kwnames, read_new);
}

// A method without parameters: display name and the work on the point.
#define KIV_POINT_METHOD(NAME, WORK)                                                                     \
    PyObject* NAME(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {         \
        static const FnDesc desc{"KIVPoint." #NAME "()", {}, 0};                                      \
        return method_entry<Point>(desc, self, args, nargs, kwnames, [](Point p, const Args&) { WORK; }); \
    }

KIV_POINT_METHOD(tension, return from_f64(kiv::tension(p)))
KIV_POINT_METHOD(kiv, return from_f64(kiv::tension(p)))
KIV_POINT_METHOD(mirror_pulse, return new_value(kiv::mirror_pulse(p)))
KIV_POINT_METHOD(pulse, return new_value(kiv::mirror_pulse(p)))
KIV_POINT_METHOD(frame_shift, return new_value(kiv::frame_shift(p)))
KIV_POINT_METHOD(is_slipping, return from_bool(kiv::is_slipping(p)))
KIV_POINT_METHOD(pair, return new_value(kiv::frame_pair(p)))
KIV_POINT_METHOD(euclidean_delta, return from_f64(kiv::euclidean_delta(p)))

#undef KIV_POINT_METHOD

PyObject* conserves_tension(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPoint.conserves_tension()", kNextTol, 2};
    return method_entry<Point>(desc, self, args, nargs, kwnames, [](Point p, const Args& a) {
        const Point next = value_arg<Point>(a[0], "next");
        const double tol = float_arg(a[1], "tol");
        return from_bool(kiv::conserves_tension(p, next, tol));
    });
}

PyObject* minkowski_delta(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPoint.minkowski_delta()", kSignatureC, 2};
    return method_entry<Point>(desc, self, args, nargs, kwnames, [](Point p, const Args& a) {
        const bool plus_signature = to_bool(a[0], "plus_signature");
        const double c = float_arg(a[1], "c");
        return from_f64(kiv::minkowski_delta(p, plus_signature, c));
    });
}

PyObject* boost(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"KIVPoint.boost()", kPhiC, 2};
    return method_entry<Point>(desc, self, args, nargs, kwnames, [](Point p, const Args& a) {
        const double phi = float_arg(a[0], "phi");
        const double c = float_arg(a[1], "c");
        return new_value(kiv::boost(p, phi, c));
    });
}

PyObject* get_x(PyObject* self, void*) {
    return getter_entry<Point>(self, [](Point p) { return from_f64(p.x); });
}

PyObject* get_y(PyObject* self, void*) {
    return getter_entry<Point>(self, [](Point p) { return from_f64(p.y); });
}

PyObject* point_repr(PyObject* self) {
    return getter_entry<Point>(self, [](Point p) { return from_text(kiv::format_point(p)); });
}

PyMethodDef g_methods[] = {
    {"tension", as_cfunction(tension), kFastcall, "tension($self)\n--\n\n"},
    {"kiv", as_cfunction(kiv), kFastcall, "kiv($self)\n--\n\nAlias for tension() — kiv(x, y) = exp(x) - ln(y)."},
    {"mirror_pulse", as_cfunction(mirror_pulse), kFastcall, "mirror_pulse($self)\n--\n\n"},
    {"pulse", as_cfunction(pulse), kFastcall, "pulse($self)\n--\n\nAlias for mirror_pulse()."},
    {"frame_shift", as_cfunction(frame_shift), kFastcall, "frame_shift($self)\n--\n\n"},
    {"is_slipping", as_cfunction(is_slipping), kFastcall, "is_slipping($self)\n--\n\n"},
    {"conserves_tension", as_cfunction(conserves_tension), kFastcall, "conserves_tension($self, next, tol)\n--\n\n"},
    {"pair", as_cfunction(pair), kFastcall,
     "pair($self)\n--\n\nReturns (exp(x), ln(|y|)) as an KIVPair — canonical frame coordinates."},
    {"euclidean_delta", as_cfunction(euclidean_delta), kFastcall,
     "euclidean_delta($self)\n--\n\nEuclidean delta: sqrt(exp(2x) + (ln y)^2)."},
    {"minkowski_delta", as_cfunction(minkowski_delta), kFastcall,
     "minkowski_delta($self, plus_signature, c)\n--\n\n"
     "Minkowski interval sqrt(|exp(2x) - (c*ln y)^2|).\n"
     "plus_signature=true means (+---): time-like when exp(2x) > (c*ln y)^2."},
    {"boost", as_cfunction(boost), kFastcall,
     "boost($self, phi, c)\n--\n\n"
     "Lorentz boost by rapidity phi. Returns new KIVPoint with identical Δ_M.\n"
     "Boost: t' = t*cosh(phi) - (x/c)*sinh(phi), x' = x*cosh(phi) - t*c*sinh(phi)\n"
     "where t = exp(x_coord), x = ln(y_coord)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"x", get_x, nullptr, nullptr, nullptr},
    {"y", get_y, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("KIVPoint(x, y)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(point_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(point_repr)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {"kiv_core.KIVPoint", sizeof(Instance<Point>), 0, kValueTypeFlags, g_slots};

LazyType g_type(&g_spec, point_call);

}  // namespace

PyTypeObject* ValueClass<Point>::type() { return g_type.for_instance(name); }

PyTypeObject* point_type() { return g_type.get(); }

}  // namespace kivpy
