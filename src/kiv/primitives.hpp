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

// Each guarded exp and log below is the C library's exp or log of a guarded argument; the array forms
// (primitives_n.hpp) apply the same argument functions and take exp and log a block at a time.

// The argument of exp: x, or ln x above the threshold (so that exp never overflows there).
inline double exp_arg_above(double threshold, double x) noexcept { return x > threshold ? std::log(x) : x; }

inline double guarded_exp(double x) noexcept { return std::exp(exp_arg_above(kExpOverflow, x)); }

// x clamped to [-709, 709]; both comparisons are false for a NaN, so it passes both bounds unchanged.
inline double bounded_exp_arg(double x) noexcept {
    double lo = (x < -kExpClamp) ? -kExpClamp : x;
    return (lo > kExpClamp) ? kExpClamp : lo;
}

inline double bounded_exp(double x) noexcept { return std::exp(bounded_exp_arg(x)); }

// The frame-shift guard: ln|y|, with ±0 mapped to ln(1e-300). Its argument keeps a NaN's sign.
inline double guarded_ln_arg(double y) noexcept { return y <= 0.0 ? std::fabs(y) : y; }

inline double guarded_ln(double y) noexcept {
    y = guarded_ln_arg(y);
    if (y == 0.0) return kLnLogFloor;
    return std::log(y);
}

// y where positive or NaN, else |y| floored at the log floor.
inline double floored_ln_arg(double y) noexcept {
    if (y > 0.0 || std::isnan(y)) return y;
    double m = std::fabs(y);
    return m > kLogFloor ? m : kLogFloor;
}

inline double floored_ln(double y) noexcept { return std::log(floored_ln_arg(y)); }

// |y| floored at the log floor; a NaN takes the floor (the comparison is false for it).
inline double floored_abs(double y) noexcept {
    const double m = std::fabs(y);
    return m > kLogFloor ? m : kLogFloor;
}

inline double clamped_ln(double y) noexcept { return std::log(floored_abs(y)); }

inline double kiv(double x, double y) noexcept { return guarded_exp(x) - guarded_ln(y); }

// The part of the search's kiv node that depends on its first operand alone.
inline double search_kiv_exp(double x) noexcept { return std::exp(exp_arg_above(kSearchExpThreshold, x)); }

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
