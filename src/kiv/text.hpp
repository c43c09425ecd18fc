// Float-to-text formatting shared by every repr and rendered formula, and the value records' repr texts.
#pragma once

#include <string>

#include "kiv/knot.hpp"
#include "kiv/pair.hpp"
#include "kiv/point.hpp"

namespace kiv {

// Fixed notation with exactly `decimals` digits after the point, correctly rounded from the exact binary
// value (ties to even), never in exponent form; "NaN", "inf", "-inf"; a negative zero keeps its sign.
std::string format_fixed(double v, int decimals);

// Shortest text that reads back to the same float, with at least one digit after the point; exponent
// form when |v| >= 1e16 or 0 < |v| < 1e-4, the exponent written without '+' and leading zeros ("1e16",
// "1.5e-5"); "NaN", "inf", "-inf".
std::string format_shortest(double v);

// Exponent form with `decimals` digits after the point, correctly rounded: "1.23e-4", "5.00e-1",
// "0.00e0"; "NaN", "inf", "-inf".
std::string format_exponent(double v, int decimals);

// "KIVPoint(x=1.500000, y=-2.000000)".
std::string format_point(Point p);

// "KIVPair(1.000000 - 2.000000i)": the sign is '-' for a negative or NaN imag, '+' otherwise.
std::string format_pair(Pair p);

// "KIVKnot(n=0, rho=1.000000, theta=0.0000, point=KIVPoint { x: 0.0, y: 1.0 })".
std::string format_knot(Knot k);

}  // namespace kiv
