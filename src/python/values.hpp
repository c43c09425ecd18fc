// The value classes of kiv_core: which class wraps which record.
#pragma once

#include "entry.hpp"
#include "kiv/knot.hpp"
#include "kiv/pair.hpp"
#include "kiv/point.hpp"

namespace kivpy {

// The type objects, each defined in its class's file and created on first use.
extern LazyType point_class, pair_class, knot_class;

template <>
struct ClassOf<kiv::Point> {
    static constexpr const char* name = "KIVPoint";
    static PyTypeObject* type() { return point_class.for_instance(name); }
};

template <>
struct ClassOf<kiv::Pair> {
    static constexpr const char* name = "KIVPair";
    static PyTypeObject* type() { return pair_class.for_instance(name); }
};

template <>
struct ClassOf<kiv::Knot> {
    static constexpr const char* name = "KIVKnot";
    static PyTypeObject* type() { return knot_class.for_instance(name); }
};

}  // namespace kivpy
