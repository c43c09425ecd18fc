// Batch physics kernels over the shared point and pair formulas.
#include "kiv/physics.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "kiv/memory.hpp"
#include "kiv/pool.hpp"
#include "kiv/primitives.hpp"
#include "kiv/primitives_n.hpp"
#include "kiv/vmath.hpp"

namespace kiv {
namespace {

// Elements per chunk below which handing work to another thread costs more than it saves.
constexpr std::size_t kMinChunk = 1024;

// Offset that keeps the floored radius strictly above rs.
constexpr double kHorizonOffset = 1e-9;

// The four non-zero symbols of the (t, r) plane; every other index combination is zero.
enum class Symbol { Zero, TimeTimeRadial, RadialTimeTime, RadialRadialRadial };

Symbol symbol_of(std::uint64_t lam, std::uint64_t mu, std::uint64_t nu) noexcept {
    if (lam == 0 && ((mu == 0 && nu == 1) || (mu == 1 && nu == 0))) return Symbol::TimeTimeRadial;
    if (lam == 1 && mu == 0 && nu == 0) return Symbol::RadialTimeTime;
    if (lam == 1 && mu == 1 && nu == 1) return Symbol::RadialRadialRadial;
    return Symbol::Zero;
}

// Points per pass of the batch kernels: their exp and log go through the vector path a block at a time.
constexpr std::size_t kBlock = 256;

// The symbol at radius r = e^x, e^x taken as the search's kiv node takes it (search_kiv_exp).
double christoffel_at_radius(double r, Symbol sym, double rs) noexcept {
    // The larger of the two, a NaN operand being ignored.
    const double f = std::fmax(r, rs + kHorizonOffset);
    if (f <= 0.0 || rs >= f) return 0.0;
    switch (sym) {
        case Symbol::TimeTimeRadial: return rs / ((f - rs) * (f + f));
        case Symbol::RadialTimeTime: return ((1.0 - rs / f) * rs) / ((f + f) * f);
        case Symbol::RadialRadialRadial: return (-rs) / ((f - rs) * (f + f));
        case Symbol::Zero: break;
    }
    return 0.0;
}

double christoffel_symbol(double x, Symbol sym, double rs) noexcept {
    return christoffel_at_radius(search_kiv_exp(x), sym, rs);
}

PulseStep step_of(Point p) noexcept { return {p.x, p.y, tension(p)}; }

}  // namespace

std::vector<Point> boost_n(std::span<const Point> points, std::span<const double> phis, double c) {
    std::vector<Point> out(std::min(points.size(), phis.size()));
    const Point* in = points.data();
    const double* phi = phis.data();
    Point* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk, [=](std::size_t b, std::size_t e) {
        // boost(in[i], phi[i], c), its exps and logs a block at a time.
        for (std::size_t s = b; s < e; s += kBlock) {
            const std::size_t m = std::min(kBlock, e - s);
            double t[kBlock], u[kBlock];
            for (std::size_t k = 0; k < m; ++k) {
                t[k] = in[s + k].x;
                u[k] = in[s + k].y;
            }
            guarded_exp_n(t, t, m);
            floored_ln_n(u, u, m);
            for (std::size_t k = 0; k < m; ++k) {
                const Pair f = boosted_frame({t[k], u[k]}, phi[s + k], c);
                t[k] = f.real;
                u[k] = f.imag;
            }
            vmath::log(t, t, m);
            bounded_exp_n(u, u, m);
            for (std::size_t k = 0; k < m; ++k) dst[s + k] = {t[k], u[k]};
        }
    });
    return out;
}

std::vector<Pair> rotate_phase_n(std::span<const Pair> pairs, std::span<const double> angles) {
    std::vector<Pair> out(std::min(pairs.size(), angles.size()));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = rotate_phase(pairs[i], angles[i]);
    return out;
}

std::vector<Pair> schrodinger_step_n(std::span<const Pair> psi, std::span<const double> v, double dt, double hbar) {
    std::vector<Pair> out(std::min(psi.size(), v.size()));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = rotate_phase(psi[i], ((-v[i]) * dt) / hbar);
    return out;
}

std::size_t pulse_steps(std::uint64_t n_pulses) {
    if (n_pulses == UINT64_MAX) throw OutOfMemory("pulse count " + std::to_string(n_pulses) + " too large");
    if (n_pulses + 1 > kMaxPulseSteps) throw std::length_error("capacity overflow");
    return static_cast<std::size_t>(n_pulses + 1);
}

std::vector<PulseStep> simulate_pulses_n(double x0, double y0, std::uint64_t n_pulses) {
    const std::size_t steps = pulse_steps(n_pulses);
    check_memory(steps, sizeof(PulseStep));
    std::vector<PulseStep> out;
    try {
        out.reserve(steps);
    } catch (const std::bad_alloc&) {
        throw OutOfMemory("cannot allocate " + std::to_string(steps) + " pulse steps");
    }
    Point p{x0, y0};
    out.push_back(step_of(p));
    for (std::uint64_t k = 0; k < n_pulses; ++k) {
        p = mirror_pulse(p);
        out.push_back(step_of(p));
    }
    return out;
}

double christoffel(double x, std::uint64_t lam, std::uint64_t mu, std::uint64_t nu, double rs) noexcept {
    return christoffel_symbol(x, symbol_of(lam, mu, nu), rs);
}

std::vector<double> christoffel_batch_n(std::span<const Point> points, std::uint64_t lam, std::uint64_t mu,
                                        std::uint64_t nu, double rs) {
    std::vector<double> out(points.size());
    const Symbol sym = symbol_of(lam, mu, nu);
    const Point* in = points.data();
    double* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk, [=](std::size_t b, std::size_t e) {
        for (std::size_t s = b; s < e; s += kBlock) {
            const std::size_t m = std::min(kBlock, e - s);
            double r[kBlock];
            for (std::size_t k = 0; k < m; ++k) r[k] = in[s + k].x;
            search_kiv_exp_n(r, r, m);
            for (std::size_t k = 0; k < m; ++k) dst[s + k] = christoffel_at_radius(r[k], sym, rs);
        }
    });
    return out;
}

}  // namespace kiv
