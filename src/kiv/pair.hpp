// The pair value record (real, imag) and its complex-number formulas, shared by KIVPair and the batch kernels.
#pragma once

#include <cmath>

#include "kiv/primitives.hpp"

namespace kiv {

struct Pair {
    double real;
    double imag;
};

inline Pair pair_add(Pair p, Pair q) noexcept { return {p.real + q.real, p.imag + q.imag}; }
inline Pair pair_sub(Pair p, Pair q) noexcept { return {p.real - q.real, p.imag - q.imag}; }

inline Pair pair_mul(Pair p, Pair q) noexcept {
    const double a = p.real, b = p.imag, c = q.real, d = q.imag;
    return {a * c - b * d, b * c + a * d};
}

// A squared modulus below the log floor is raised to it (a NaN stays NaN), so division never raises.
inline Pair pair_div(Pair p, Pair q) noexcept {
    const double a = p.real, b = p.imag, c = q.real, d = q.imag;
    double den = d * d + c * c;
    if (std::fabs(den) < kLogFloor) den = kLogFloor;
    return {(a * c + b * d) / den, (b * c - a * d) / den};
}

// Multiplication by e^(i·angle).
inline Pair rotate_phase(Pair p, double angle) noexcept {
    const double s = std::sin(angle), k = std::cos(angle);
    return {k * p.real - s * p.imag, k * p.imag + s * p.real};
}

inline Pair conjugate(Pair p) noexcept { return {p.real, -p.imag}; }
inline double modulus(Pair p) noexcept { return std::sqrt(p.imag * p.imag + p.real * p.real); }
inline double argument(Pair p) noexcept { return std::atan2(p.imag, p.real); }
inline Pair from_polar(double r, double theta) noexcept { return {std::cos(theta) * r, std::sin(theta) * r}; }

// Absolute tolerance of pair equality; both differences must be strictly below it.
inline constexpr double kPairEqualTolerance = 1e-9;
inline bool pair_equal(Pair p, Pair q) noexcept {
    return std::fabs(p.real - q.real) < kPairEqualTolerance && std::fabs(p.imag - q.imag) < kPairEqualTolerance;
}

}  // namespace kiv
