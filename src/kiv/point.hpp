// The point value record (x, y) and its formulas: tension, mirror pulse, frame shift, deltas and boost.
#pragma once

#include <cmath>

#include "kiv/pair.hpp"
#include "kiv/primitives.hpp"

namespace kiv {

struct Point {
    double x;
    double y;
};

// |y|, with ±0 replaced by the log floor; a NaN stays NaN.
inline double safe_abs(double y) noexcept {
    if (y > 0.0) return y;
    if (y == 0.0) return kLogFloor;
    return std::fabs(y);
}

inline double tension(Point p) noexcept { return kiv(p.x, p.y); }

// (x, y) -> (|y|, tension): the new y equals the tension of the old point. It is taken at (x, m), the same
// value, so that a NaN y reaches the new y with the sign bit safe_abs cleared, as it reaches the new x.
inline Point mirror_pulse(Point p) noexcept {
    const double m = safe_abs(p.y);
    return {m, tension({p.x, m})};
}

// (x, y) -> (max(|y|, 1e-300), exp(x) - clamped ln y); a NaN y takes the floor.
inline Point frame_shift(Point p) noexcept { return {floored_abs(p.y), guarded_exp(p.x) - clamped_ln(p.y)}; }

inline bool is_slipping(Point p) noexcept { return p.x > kExpOverflow; }

// Canonical frame coordinates t = e^x, s = ln y.
inline Pair frame_pair(Point p) noexcept { return {guarded_exp(p.x), floored_ln(p.y)}; }

inline double euclidean_delta(Point p) noexcept {
    const Pair f = frame_pair(p);
    return std::sqrt(f.imag * f.imag + f.real * f.real);
}

inline double minkowski_delta(Point p, bool plus_signature, double c) noexcept {
    const Pair f = frame_pair(p);
    const double t = f.real, u = c * f.imag;
    const double d = plus_signature ? t * t - u * u : u * u - t * t;
    return std::sqrt(std::fabs(d));
}

// The frame (t, s) boosted by phi: (t', s'), t' floored (a NaN t' takes the floor). The boosted point is
// (ln t', bounded_exp(s')).
inline Pair boosted_frame(Pair f, double phi, double c) noexcept {
    const double t = f.real, s = f.imag;
    const double sh = std::sinh(phi), ch = std::cosh(phi);
    const double t2 = t * ch - (s / c) * sh;
    const double s2 = ch * s - (c * t) * sh;
    return {t2 > kLogFloor ? t2 : kLogFloor, s2};
}

inline Point boost(Point p, double phi, double c) noexcept {
    const Pair b = boosted_frame(frame_pair(p), phi, c);
    return {std::log(b.real), bounded_exp(b.imag)};
}

// The rounding residual of the tension through self's x and next's y.
inline bool conserves_tension(Point self, Point next, double tol) noexcept {
    const double e = guarded_exp(self.x);
    if (!std::isfinite(e)) return true;
    const double l = guarded_ln(next.y);
    return tol > std::fabs(((e - l) + l) - e);
}

}  // namespace kiv
