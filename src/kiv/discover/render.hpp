// Formula text of an expression, and its LaTeX and Python rewrites.
#pragma once

#include <string>
#include <string_view>

#include "kiv/discover/expr.hpp"

namespace kiv::discover {

// Plain formula text of a token sequence; malformed sequences render too (a missing operand is empty
// text, an empty stack is "?"). Numbers are in fixed notation with four decimals.
std::string render_formula(const Expr& expr);

// LaTeX form of a plain formula text.
std::string to_latex_text(std::string_view formula);

// Python source form of a plain formula text: a lambda of x after "import math".
std::string to_python_text(std::string_view formula);

}  // namespace kiv::discover
