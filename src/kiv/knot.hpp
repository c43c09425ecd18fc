// The knot value record (point, count, angle) and its moves: pulse, quarter turn, flip, tread yield, rho.
#pragma once

#include <cmath>
#include <cstdint>

#include "kiv/point.hpp"
#include "kiv/primitives.hpp"

namespace kiv {

// A point carried with a pulse count n and an angle theta, theta always a C fmod by 2π.
struct Knot {
    double x;
    double y;
    std::int64_t n;
    double theta;
};

inline constexpr double kHalfPi = 1.5707963267948966;
inline constexpr double kTwoPi = 6.283185307179586;

// n + k modulo 2^64: the count wraps in two's complement instead of overflowing.
inline std::int64_t wrapping_add(std::int64_t n, std::int64_t k) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(n) + static_cast<std::uint64_t>(k));
}

// The angle reduced by fmod: it keeps the sign of theta; NaN or an infinite theta gives NaN.
inline Knot make_knot(Point p, std::int64_t n, double theta) noexcept {
    return {p.x, p.y, n, std::fmod(theta, kTwoPi)};
}

inline Point knot_point(Knot k) noexcept { return {k.x, k.y}; }

inline double quarter_turn(double theta) noexcept { return std::fmod(theta + kHalfPi, kTwoPi); }

// One mirror pulse of the carried point, one more count, a quarter turn of the angle.
inline Knot knot_pulse(Knot k) noexcept {
    const Point m = mirror_pulse(knot_point(k));
    return {m.x, m.y, wrapping_add(k.n, 1), quarter_turn(k.theta)};
}

// Four pulses in a row: from theta = 0 the turns give π/2, π, 3π/2 and exactly 0.
inline Knot three_one_flip(Knot k) noexcept {
    for (int i = 0; i < 4; ++i) k = knot_pulse(k);
    return k;
}

// (n / 4) * 2 with the division truncated toward zero; cannot overflow.
inline std::int64_t tread_yield(Knot k) noexcept { return (k.n / 4) * 2; }

// The magnitude of the carried point's tension.
inline double rho(Knot k) noexcept { return std::fabs(tension(knot_point(k))); }

}  // namespace kiv
