// The batch physics functions: bind, convert, run the core kernel, convert the result.
#include <cstdint>
#include <vector>

#include "entry.hpp"
#include "kiv/memory.hpp"
#include "kiv/physics.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

using Points = PairTuples<kiv::Point>;
using Pairs = PairTuples<kiv::Pair>;

// Bytes one entry of a list of float 3-tuples occupies: the list slot, the tuple with its collector
// header, and three floats in the interpreter's 16-byte-aligned small-object blocks.
constexpr std::size_t kTripleEntryBytes = sizeof(PyObject*) + 64 + 3 * 32;

Ref from_points(const std::vector<kiv::Point>& v) {
    return list_of(std::span(v), [](const kiv::Point& p) { return float_tuple(p.x, p.y); });
}

Ref from_pairs(const std::vector<kiv::Pair>& v) {
    return list_of(std::span(v), [](const kiv::Pair& p) { return float_tuple(p.real, p.imag); });
}

Ref from_steps(const std::vector<kiv::PulseStep>& v) {
    return list_of(std::span(v), [](const kiv::PulseStep& s) { return float_tuple(s.x, s.y, s.tension); });
}

constexpr auto kBoostN = function("boost_n",
                                  "Batch Lorentz boost: apply boost(phi_i, c) to each (x_i, y_i) point in parallel.\n"
                                  "Returns Vec of (x', y') tuples.",
                                  arg<Points>("points"), arg<F64Vec>("phis"), arg<F64>("c"));

Ref boost_n(const BoundOf<kBoostN>& a) {
    const auto& [points, phis, c] = kBoostN.params;
    const auto at = a[points];
    const auto angles = a[phis];
    return from_points(kiv::boost_n(at, angles, a[c]));
}

constexpr auto kRotatePhaseN = function("rotate_phase_n", "Batch rotate_phase for a list of KIVPairs.",
                                        arg<Pairs>("pairs"), arg<F64Vec>("angles"));

Ref rotate_phase_n(const BoundOf<kRotatePhaseN>& a) {
    const auto& [pairs, angles] = kRotatePhaseN.params;
    const auto values = a[pairs];
    return from_pairs(kiv::rotate_phase_n(values, a[angles]));
}

constexpr auto kSchrodingerStepN =
    function("schrodinger_step_n",
             "Batch Schrödinger potential-phase step: ψ_n → e^{-iV_n·dt/ħ}·ψ_n for all n.\n"
             "Returns list of (real, imag) tuples.",
             arg<Pairs>("psi"), arg<F64Vec>("v"), arg<F64>("dt"), arg<F64>("hbar"));

Ref schrodinger_step_n(const BoundOf<kSchrodingerStepN>& a) {
    const auto& [psi, v, dt, hbar] = kSchrodingerStepN.params;
    const auto state = a[psi];
    const auto potential = a[v];
    const double step = a[dt];
    return from_pairs(kiv::schrodinger_step_n(state, potential, step, a[hbar]));
}

constexpr auto kSimulatePulsesN =
    function("simulate_pulses_n", "Simulate n_pulses of mirror_pulse, returning (x, y, tension) per step.",
             arg<F64>("x0"), arg<F64>("y0"), arg<U64>("n_pulses"));

Ref simulate_pulses_n(const BoundOf<kSimulatePulsesN>& a) {
    const auto& [x0, y0, n_pulses] = kSimulatePulsesN.params;
    const double x = a[x0];
    const double y = a[y0];
    const std::uint64_t count = a[n_pulses];
    // The trajectory and the list made from it must both fit before either is made; a count that
    // cannot ends in MemoryError rather than in an exhausted machine.
    kiv::check_memory(kiv::pulse_steps(count), sizeof(kiv::PulseStep) + kTripleEntryBytes);
    return from_steps(kiv::simulate_pulses_n(x, y, count));
}

constexpr auto kChristoffelBatchN = function("christoffel_batch_n",
                                             "Batch Schwarzschild Christoffel evaluation.\n"
                                             "points: Vec of (x, _) where r = exp(x).\n"
                                             "Returns Vec of Γ^lam_{mu nu} values for each point.",
                                             arg<Points>("points"), arg<U64>("lam"), arg<U64>("mu"), arg<U64>("nu"),
                                             arg<F64>("rs"));

Ref christoffel_batch_n(const BoundOf<kChristoffelBatchN>& a) {
    const auto& [points, lam, mu, nu, rs] = kChristoffelBatchN.params;
    const auto at = a[points];
    const std::uint64_t l = a[lam];
    const std::uint64_t m = a[mu];
    const std::uint64_t n = a[nu];
    return from_f64_vec(kiv::christoffel_batch_n(at, l, m, n, a[rs]));
}

}  // namespace

PyMethodDef schrodinger_step_n_def = method_def<kSchrodingerStepN, schrodinger_step_n>();
PyMethodDef rotate_phase_n_def = method_def<kRotatePhaseN, rotate_phase_n>();
PyMethodDef simulate_pulses_n_def = method_def<kSimulatePulsesN, simulate_pulses_n>();
PyMethodDef boost_n_def = method_def<kBoostN, boost_n>();
PyMethodDef christoffel_batch_n_def = method_def<kChristoffelBatchN, christoffel_batch_n>();

}  // namespace kivpy
