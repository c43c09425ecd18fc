// Shorthands for building token sequences in the discovery tests.
#pragma once

#include <initializer_list>

#include "kiv/discover/expr.hpp"

namespace kiv::discover::testing {

inline Token C(double v) { return Token::constant(v); }
inline Token V(std::size_t i) { return Token::var(i); }
inline Token P(std::size_t i, double v) { return Token::param(i, v); }
inline Token O(OpKind op) { return Token::oper(op); }

inline Expr E(std::initializer_list<Token> tokens) { return Expr(tokens); }

}  // namespace kiv::discover::testing
