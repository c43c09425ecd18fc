// The entries the module registers, each defined in the file of its area.
#pragma once

#include "types.hpp"

namespace kivpy {

// Value classes (point.cpp, pair.cpp, knot.cpp): their type objects, created on first use.
extern LazyType point_class, pair_class, knot_class;

// Element-wise batch functions (functions.cpp).
extern PyMethodDef exp_n_def, ln_n_def, add_n_def, sub_n_def, mul_n_def, div_n_def, sqrt_n_def, sin_n_def,
    cos_n_def, tension_n_def, pow_n_def;

// Batch physics functions (physics.cpp).
extern PyMethodDef schrodinger_step_n_def, rotate_phase_n_def, simulate_pulses_n_def, boost_n_def,
    christoffel_batch_n_def;

// Algebra kernels (algebra.cpp).
extern PyMethodDef octonion_mul_n_def, geometric_product_n_def;

// Formula discovery (discover.cpp): the result class and find_formula.
extern LazyType search_result_class;
extern PyMethodDef find_formula_def;
// Its private reconstructor for pickle and copy: in the namespace, not in __all__.
extern PyMethodDef search_result_def;

}  // namespace kivpy
