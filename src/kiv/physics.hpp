// Batch physics kernels: point boosts, phase rotations, Schrödinger phase steps, pulse trajectories and
// Schwarzschild Christoffel symbols over plain arrays of points and pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kiv/pair.hpp"
#include "kiv/point.hpp"

namespace kiv {

// One entry of a pulse trajectory: the point and its tension.
struct PulseStep {
    double x;
    double y;
    double tension;
};

// The largest trajectory length whose entries fit in 2^63 − 1 bytes.
inline constexpr std::uint64_t kMaxPulseSteps = 384307168202282325ULL;

// boost(points[i], phis[i], c) for every i below the shorter length, on the worker pool.
std::vector<Point> boost_n(std::span<const Point> points, std::span<const double> phis, double c);

// rotate_phase(pairs[i], angles[i]) for every i below the shorter length.
std::vector<Pair> rotate_phase_n(std::span<const Pair> pairs, std::span<const double> angles);

// psi[i] rotated by ((−v[i])·dt) / hbar, for every i below the shorter length.
std::vector<Pair> schrodinger_step_n(std::span<const Pair> psi, std::span<const double> v, double dt, double hbar);

// The number of entries of a trajectory of n_pulses pulses, n_pulses + 1. Throws std::length_error
// "capacity overflow" above kMaxPulseSteps, and OutOfMemory when n_pulses + 1 does not fit in 64 bits.
std::size_t pulse_steps(std::uint64_t n_pulses);

// The start (x0, y0) and the n_pulses mirror pulses that follow it, each with its tension. The output is
// sized before computing: pulse_steps' failures, then OutOfMemory when it cannot be held in memory.
std::vector<PulseStep> simulate_pulses_n(double x0, double y0, std::uint64_t n_pulses);

// Γ^lam_{mu nu} of the Schwarzschild metric in the (t, r) plane at r = e^x (index 0 is t, 1 is r), with
// r floored just above rs.
double christoffel(double x, std::uint64_t lam, std::uint64_t mu, std::uint64_t nu, double rs) noexcept;

// christoffel(points[i].x, ...) for every point (the y coordinates are not used), on the worker pool.
std::vector<double> christoffel_batch_n(std::span<const Point> points, std::uint64_t lam, std::uint64_t mu,
                                        std::uint64_t nu, double rs);

}  // namespace kiv
