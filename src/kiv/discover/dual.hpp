// Forward-mode derivatives of the operator table: a value with its gradient over a formula's free
// constants, and one derivative rule per operator.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

#include "kiv/discover/ops.hpp"

namespace kiv::discover {

// Free constants one formula may carry into a fit.
inline constexpr std::size_t kMaxFitParams = 4;

// A value and its partial derivatives by each free constant (the first `n` of grad are used).
struct Dual {
    double value = 0.0;
    std::array<double, kMaxFitParams> grad{};
};

// The partial derivatives of one operator at operands (a, b) with result r: d r / d a and d r / d b (db is
// 0 for a unary operator). Where the guarded operation is flat (a floor, a clamp) the derivative is 0.
struct Partials {
    double da = 0.0, db = 0.0;
};

// Every operator needs a rule: a row added to the table without one is a compile error here (the table's
// size), and a code without a case is one in the switch (no default, -Wswitch made an error).
static_assert(kOps.size() == 13, "a new operator needs a derivative rule in operator_partials");

#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
inline Partials operator_partials(OpKind op, double a, double b, double r) noexcept {
    switch (op) {
        case OpKind::Neg: return {-1.0, 0.0};
        case OpKind::Recip: return {-(r * r), 0.0};
        case OpKind::Exp: return {r, 0.0};
        case OpKind::Ln: return {1.0 / a, 0.0};
        case OpKind::Sqrt: return {0.5 / r, 0.0};
        case OpKind::Sin: return {std::cos(a), 0.0};
        case OpKind::Cos: return {-std::sin(a), 0.0};
        case OpKind::Abs: return {a < 0.0 ? -1.0 : 1.0, 0.0};
        case OpKind::Kiv: {
            // exp of the first operand, or of its log above the threshold (then the operand itself); the
            // log of the second operand's magnitude, constant below the floor.
            const double da = a > kSearchExpThreshold ? 1.0 : std::exp(a);
            const double db = (b > 0.0 || std::fabs(b) > kLogFloor) ? -1.0 / b : 0.0;
            return {da, db};
        }
        case OpKind::Add: return {1.0, 1.0};
        case OpKind::Sub: return {1.0, -1.0};
        case OpKind::Mul: return {b, a};
        case OpKind::Div: return {1.0 / b, -(r / b)};
    }
    return {};
}
#pragma GCC diagnostic pop

// One operator on duals over n free constants: the value exactly as apply_op gives it (false where that
// fails), and the gradient by the chain rule; false too when a derivative is not finite.
inline bool apply_dual(OpKind op, const Dual& a, const Dual& b, std::size_t n, Dual& out) noexcept {
    double r = 0.0;
    if (!apply_op(op, a.value, b.value, r)) return false;
    const Partials p = operator_partials(op, a.value, b.value, r);
    Dual d;
    d.value = r;
    const bool binary = arity(op) == 2;
    for (std::size_t k = 0; k < n; ++k) {
        double g = p.da * a.grad[k];
        if (binary) g = g + p.db * b.grad[k];
        if (!std::isfinite(g)) return false;
        d.grad[k] = g;
    }
    out = d;
    return true;
}

}  // namespace kiv::discover
