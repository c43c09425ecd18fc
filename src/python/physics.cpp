// The batch physics functions: bind, convert, run the core kernel, convert the result.
#include <array>
#include <cstdint>
#include <vector>

#include "args.hpp"
#include "frame.hpp"
#include "kiv/memory.hpp"
#include "kiv/physics.hpp"
#include "registry.hpp"

namespace kivpy {
namespace {

// Bytes one entry of a list of float 3-tuples occupies: the list slot, the tuple with its collector
// header, and three floats in the interpreter's 16-byte-aligned small-object blocks.
constexpr std::size_t kTripleEntryBytes = sizeof(PyObject*) + 64 + 3 * 32;

std::vector<kiv::Point> to_points(PyObject* o, const char* param) {
    const auto raw = to_pairs(o, param);
    std::vector<kiv::Point> out(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) out[i] = {raw[i][0], raw[i][1]};
    return out;
}

std::vector<kiv::Pair> to_pair_values(PyObject* o, const char* param) {
    const auto raw = to_pairs(o, param);
    std::vector<kiv::Pair> out(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) out[i] = {raw[i][0], raw[i][1]};
    return out;
}

Ref from_points(const std::vector<kiv::Point>& v) {
    std::vector<std::array<double, 2>> raw(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) raw[i] = {v[i].x, v[i].y};
    return from_f64_arrays<2>(raw, true);
}

Ref from_pair_values(const std::vector<kiv::Pair>& v) {
    std::vector<std::array<double, 2>> raw(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) raw[i] = {v[i].real, v[i].imag};
    return from_f64_arrays<2>(raw, true);
}

Ref from_steps(std::vector<kiv::PulseStep>&& v) {
    std::vector<std::array<double, 3>> raw(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) raw[i] = {v[i].x, v[i].y, v[i].tension};
    std::vector<kiv::PulseStep>().swap(v);
    return from_f64_arrays<3>(raw, true);
}

constexpr const char* kBoostParams[] = {"points", "phis", "c"};
constexpr const char* kRotateParams[] = {"pairs", "angles"};
constexpr const char* kSchrodingerParams[] = {"psi", "v", "dt", "hbar"};
constexpr const char* kPulsesParams[] = {"x0", "y0", "n_pulses"};
constexpr const char* kChristoffelParams[] = {"points", "lam", "mu", "nu", "rs"};

PyObject* boost_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"boost_n()", kBoostParams, 3};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const auto points = to_points(a[0], "points");
        const auto phis = to_f64_vec(a[1], "phis");
        const double c = to_f64(a[2], "c");
        return from_points(kiv::boost_n(points, phis, c));
    });
}

PyObject* rotate_phase_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"rotate_phase_n()", kRotateParams, 2};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const auto pairs = to_pair_values(a[0], "pairs");
        const auto angles = to_f64_vec(a[1], "angles");
        return from_pair_values(kiv::rotate_phase_n(pairs, angles));
    });
}

PyObject* schrodinger_step_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"schrodinger_step_n()", kSchrodingerParams, 4};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const auto psi = to_pair_values(a[0], "psi");
        const auto v = to_f64_vec(a[1], "v");
        const double dt = to_f64(a[2], "dt");
        const double hbar = to_f64(a[3], "hbar");
        return from_pair_values(kiv::schrodinger_step_n(psi, v, dt, hbar));
    });
}

PyObject* simulate_pulses_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"simulate_pulses_n()", kPulsesParams, 3};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const double x0 = to_f64(a[0], "x0");
        const double y0 = to_f64(a[1], "y0");
        const std::uint64_t n_pulses = to_u64(a[2], "n_pulses");
        // The trajectory, its copy for the list and the list itself must all fit before any of them is
        // made; a count that cannot ends in MemoryError rather than in an exhausted machine.
        const std::size_t steps = kiv::pulse_steps(n_pulses);
        kiv::require_memory(steps, sizeof(kiv::PulseStep) + sizeof(std::array<double, 3>) + kTripleEntryBytes);
        return from_steps(kiv::simulate_pulses_n(x0, y0, n_pulses));
    });
}

PyObject* christoffel_batch_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const FnDesc desc{"christoffel_batch_n()", kChristoffelParams, 5};
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        const auto points = to_points(a[0], "points");
        const std::uint64_t lam = to_u64(a[1], "lam");
        const std::uint64_t mu = to_u64(a[2], "mu");
        const std::uint64_t nu = to_u64(a[3], "nu");
        const double rs = to_f64(a[4], "rs");
        return from_f64_vec(kiv::christoffel_batch_n(points, lam, mu, nu, rs));
    });
}

}  // namespace

PyMethodDef schrodinger_step_n_def = {
    "schrodinger_step_n", as_cfunction(schrodinger_step_n), kFastcall,
    "schrodinger_step_n(psi, v, dt, hbar)\n--\n\n"
    "Batch Schrödinger potential-phase step: ψ_n → e^{-iV_n·dt/ħ}·ψ_n for all n.\n"
    "Returns list of (real, imag) tuples."};
PyMethodDef rotate_phase_n_def = {"rotate_phase_n", as_cfunction(rotate_phase_n), kFastcall,
                                  "rotate_phase_n(pairs, angles)\n--\n\nBatch rotate_phase for a list of KIVPairs."};
PyMethodDef simulate_pulses_n_def = {
    "simulate_pulses_n", as_cfunction(simulate_pulses_n), kFastcall,
    "simulate_pulses_n(x0, y0, n_pulses)\n--\n\n"
    "Simulate n_pulses of mirror_pulse, returning (x, y, tension) per step."};
PyMethodDef boost_n_def = {
    "boost_n", as_cfunction(boost_n), kFastcall,
    "boost_n(points, phis, c)\n--\n\n"
    "Batch Lorentz boost: apply boost(phi_i, c) to each (x_i, y_i) point in parallel.\n"
    "Returns Vec of (x', y') tuples."};
PyMethodDef christoffel_batch_n_def = {
    "christoffel_batch_n", as_cfunction(christoffel_batch_n), kFastcall,
    "christoffel_batch_n(points, lam, mu, nu, rs)\n--\n\n"
    "Batch Schwarzschild Christoffel evaluation.\n"
    "points: Vec of (x, _) where r = exp(x).\n"
    "Returns Vec of Γ^lam_{mu nu} values for each point."};

}  // namespace kivpy
