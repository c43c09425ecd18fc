// Formula text of an expression, its LaTeX and Python rewrites, and the number formats they use.
#pragma once

#include <string>
#include <string_view>

#include "kiv/discover/expr.hpp"

namespace kiv::discover {

// Fixed notation with four decimals, correctly rounded from the exact binary value (ties to even), never in
// exponent form: 1.0 -> "1.0000", -2.25 -> "-2.2500", -0.0 -> "-0.0000"; "NaN", "inf", "-inf".
// (A shared number-text unit for the value classes is planned; this one serves formula text until then.)
std::string fixed4(double v);

// Exponent form with two decimals: one leading digit, two decimals, "e" and the exponent without "+" or
// leading zeros: 0.000123456 -> "1.23e-4", 0.0 -> "0.00e0", -0.0 -> "-0.00e0"; "NaN", "inf", "-inf".
std::string exponent2(double v);

// Plain formula text of a token sequence; malformed sequences render too (a missing operand is empty
// text, an empty stack is "?").
std::string render_formula(const Expr& expr);

// LaTeX form of a plain formula text.
std::string to_latex_text(std::string_view formula);

// Python source form of a plain formula text: a lambda of x after "import math".
std::string to_python_text(std::string_view formula);

}  // namespace kiv::discover
