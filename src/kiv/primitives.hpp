// Guarded scalar primitives: exp and ln that never overflow or fail, and the kiv operator built on them.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv {

// The double nearest ln(DBL_MAX): exp of anything up to it is finite.
inline constexpr double kExpOverflow = 709.782712893384;
// The shorter threshold of the search's kiv node and of the Christoffel evaluation.
inline constexpr double kSearchExpThreshold = 709.78;
// Smallest magnitude a logarithm or divisor may see.
inline constexpr double kLogFloor = 1e-300;
// ln of the log floor, held as a constant (computing it gives the same double).
inline constexpr double kLnLogFloor = -690.7755278982137;
// Symmetric clamp of bounded_exp.
inline constexpr double kExpClamp = 709.0;

// The array forms (primitives_n.hpp) hand the guarded exps and logs below to the vector path as element
// functions, which must be exp, or log of y or |y|, on the domains vmath.hpp states (tests/cpp/test_vmath.cpp
// holds them to it): a guard may change only outside those domains.
inline double guarded_exp(double x) noexcept {
    if (x > kExpOverflow) x = std::log(x);
    return std::exp(x);
}

inline double bounded_exp(double x) noexcept {
    // Both comparisons are false for a NaN, so it passes both bounds unchanged.
    double lo = (x < -kExpClamp) ? -kExpClamp : x;
    double c = (lo > kExpClamp) ? kExpClamp : lo;
    return std::exp(c);
}

// The frame-shift guard: ln|y|, with ±0 mapped to ln(1e-300).
inline double guarded_ln(double y) noexcept {
    if (y <= 0.0) y = std::fabs(y);
    if (y == 0.0) return kLnLogFloor;
    return std::log(y);
}

inline double floored_ln(double y) noexcept {
    if (y > 0.0 || std::isnan(y)) return std::log(y);
    double m = std::fabs(y);
    return std::log(m > kLogFloor ? m : kLogFloor);
}

// |y| floored at the log floor; a NaN takes the floor (the comparison is false for it).
inline double floored_abs(double y) noexcept {
    const double m = std::fabs(y);
    return m > kLogFloor ? m : kLogFloor;
}

inline double clamped_ln(double y) noexcept { return std::log(floored_abs(y)); }

inline double kiv(double x, double y) noexcept { return guarded_exp(x) - guarded_ln(y); }

// The part of the search's kiv node that depends on its first operand alone.
inline double search_kiv_exp(double x) noexcept {
    if (x > kSearchExpThreshold) x = std::log(x);
    return std::exp(x);
}

inline double search_kiv(double x, double y) noexcept { return search_kiv_exp(x) - floored_ln(y); }

inline double safe_div(double a, double b) noexcept {
    if (std::fabs(b) < kLogFloor) return std::numeric_limits<double>::quiet_NaN();
    return a / b;
}

// a + b and a × b. When both are NaN the result is b's NaN (made quiet), as the batch functions have
// always returned it: the hardware keeps the NaN of whichever operand the compiler happened to put first,
// which differs from one compiled loop to the next, so the choice is made here, once.
inline double plain_add(double a, double b) noexcept { return (a != a && b != b) ? b + b : a + b; }
inline double plain_mul(double a, double b) noexcept { return (a != a && b != b) ? b * b : a * b; }

inline double abs_sqrt(double x) noexcept { return std::sqrt(std::fabs(x)); }

inline double abs_pow(double b, double e) noexcept { return std::pow(std::fabs(b), e); }

}  // namespace kiv
