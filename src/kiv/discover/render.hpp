// Formula text of an expression, and its LaTeX and Python rewrites.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "kiv/discover/expr.hpp"

namespace kiv::discover {

// Constants the text writes as "π" and "e" (only these exact doubles).
inline constexpr double kTextPi = 3.141592653589793;
inline constexpr double kTextE = 2.718281828459045;

// Variable k is written as the character of code (kVarLetterBase + k) mod 256, so x, y, z, {, ... From
// k = kLetteredVars on, the codes wrap round to control characters, digits and the characters of the
// formula syntax, so a text can be read back only for variables below it.
inline constexpr unsigned kVarLetterBase = 120;
inline constexpr std::size_t kLetteredVars = 256 - kVarLetterBase;

// Decimals of a number in the text (fixed notation).
inline constexpr int kTextDecimals = 4;

// Plain formula text of a token sequence; malformed sequences render too (a missing operand is empty
// text, an empty stack is "?"). Numbers are in fixed notation with four decimals.
std::string render_formula(const Expr& expr);

// LaTeX form of a plain formula text.
std::string to_latex_text(std::string_view formula);

// Python source form of a plain formula text: a lambda of x after "import math".
std::string to_python_text(std::string_view formula);

}  // namespace kiv::discover
