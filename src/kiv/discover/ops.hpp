// The operator table of the expression language: one row per operator, read by evaluation, rendering,
// validation and the search.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "kiv/discover/moments.hpp"
#include "kiv/primitives.hpp"

namespace kiv::discover {

// Operator codes, in the order of the table's rows: 0 to 7 unary, 8 to 12 binary. The search offers the
// operators it always offers first, then those behind a switch, each group in code order.
enum class OpKind : std::uint8_t { Neg, Recip, Exp, Ln, Sqrt, Sin, Cos, Abs, Kiv, Add, Sub, Mul, Div };

// The guarded operation on scalars: writes the result to r and returns false when the guard trips (r is
// then unspecified). b is 0.0 for a unary operator. The finiteness check of the result is not part of it.
// Every comparison in a guard is ordered, so a NaN operand passes the guard and the finiteness check
// catches it.
using ScalarKernel = bool (*)(double a, double b, double& r) noexcept;

// A function of one operand whose value a caller may keep in place of recomputing it (see Parts).
using PartKernel = double (*)(double) noexcept;

// Parts an operand may keep: those of the separable operator.
inline constexpr std::size_t kParts = 2;

// How an operator relates to the parts that a caller may keep for each operand.
//  - Separable (binary, without a guard): kernel(a, b) is kernels[0](a) - kernels[1](b), so a caller that
//    keeps part 0 of a and part 1 of b gets the result from one subtraction. The table has one at most.
//  - FromPart (unary): wherever holds(a) is true the result is part `part` of a, and the guard passes;
//    elsewhere the kernel decides.
struct Parts {
    enum class Role : std::uint8_t { None, Separable, FromPart };
    Role role = Role::None;
    std::array<PartKernel, kParts> kernels{};
    std::size_t part = 0;
    bool (*holds)(double a) noexcept = nullptr;

    static constexpr Parts separable(PartKernel first, PartKernel second) noexcept {
        return {Role::Separable, {first, second}, 0, nullptr};
    }
    static constexpr Parts from(std::size_t part, bool (*holds)(double) noexcept) noexcept {
        return {Role::FromPart, {}, part, holds};
    }
};

// When the search offers an operator.
enum class Offer : std::uint8_t { Never, Always, WithTrig, WithKiv };

struct OpInfo {
    OpKind op;
    // Short lower-case name, unique in the table: what the kiv package's exporters and readers key on.
    std::string_view name;
    unsigned arity;  // 1 or 2
    // Formula text: prefix, first operand, then for a binary operator infix and second operand, suffix.
    std::string_view prefix, infix, suffix;
    // Replacements of prefix in the LaTeX and Python rewrites of a formula text (empty: kept as is). A
    // LaTeX replacement ending in '{' also turns the parenthesis closing the operand into '}'.
    std::string_view latex, python;
    Offer offer;
    bool order_sensitive;  // binary: op(b, a) is a different expression, so the search offers both orders
    ScalarKernel kernel;
    Parts parts{};
};

inline constexpr auto kOps = std::to_array<OpInfo>({
    {OpKind::Neg, "neg", 1, "(-", "", ")", "", "", Offer::Always, false,
     [](double a, double, double& r) noexcept { r = -a; return true; }},
    {OpKind::Recip, "recip", 1, "(1/", "", ")", "", "", Offer::Always, false,
     [](double a, double, double& r) noexcept {
         r = 1.0 / a;
         return !(std::fabs(a) < kLogFloor);
     }},
    {OpKind::Exp, "exp", 1, "exp(", "", ")", "\\exp(", "math.exp(", Offer::Always, false,
     [](double a, double, double& r) noexcept { r = std::exp(a); return true; },
     // Part 0 takes the log of an operand above the search threshold first; below it (and for a NaN)
     // it is exp itself.
     Parts::from(0, [](double a) noexcept { return !(a > kSearchExpThreshold); })},
    {OpKind::Ln, "ln", 1, "ln(", "", ")", "\\ln(", "math.log(", Offer::Always, false,
     [](double a, double, double& r) noexcept {
         if (a <= 0.0) return false;
         r = std::log(a);
         return true;
     },
     // Part 1 is the plain log of a positive operand or a NaN, which are what the guard lets through.
     Parts::from(1, [](double a) noexcept { return a > 0.0 || std::isnan(a); })},
    {OpKind::Sqrt, "sqrt", 1, "sqrt(", "", ")", "\\sqrt{", "math.sqrt(", Offer::Always, false,
     [](double a, double, double& r) noexcept {
         if (a < 0.0) return false;
         r = std::sqrt(a);
         return true;
     }},
    {OpKind::Sin, "sin", 1, "sin(", "", ")", "\\sin(", "math.sin(", Offer::WithTrig, false,
     [](double a, double, double& r) noexcept { r = std::sin(a); return true; }},
    {OpKind::Cos, "cos", 1, "cos(", "", ")", "\\cos(", "math.cos(", Offer::WithTrig, false,
     [](double a, double, double& r) noexcept { r = std::cos(a); return true; }},
    {OpKind::Abs, "abs", 1, "abs(", "", ")", "", "", Offer::Never, false,
     [](double a, double, double& r) noexcept { r = std::fabs(a); return true; }},
    {OpKind::Kiv, "kiv", 2, "kiv(", ", ", ")", "\\mathrm{kiv}(", "", Offer::WithKiv, true,
     [](double a, double b, double& r) noexcept { r = search_kiv(a, b); return true; },
     Parts::separable([](double a) noexcept { return search_kiv_exp(a); },
                      [](double b) noexcept { return floored_ln(b); })},
    {OpKind::Add, "add", 2, "(", " + ", ")", "", "", Offer::Always, false,
     [](double a, double b, double& r) noexcept { r = a + b; return true; }},
    {OpKind::Sub, "sub", 2, "(", " - ", ")", "", "", Offer::Always, true,
     [](double a, double b, double& r) noexcept { r = a - b; return true; }},
    {OpKind::Mul, "mul", 2, "(", " * ", ")", "", "", Offer::Always, false,
     [](double a, double b, double& r) noexcept { r = a * b; return true; }},
    {OpKind::Div, "div", 2, "(", " / ", ")", "", "", Offer::Always, true,
     [](double a, double b, double& r) noexcept {
         r = a / b;
         return !(std::fabs(b) < kLogFloor);
     }},
});

// Rows are in code order, so a code indexes its row.
inline constexpr bool rows_in_code_order() {
    for (std::size_t i = 0; i < kOps.size(); ++i) {
        if (static_cast<std::size_t>(kOps[i].op) != i) return false;
    }
    return true;
}
static_assert(rows_in_code_order());

// What the parts rely on, checked on the rows' roles (their function pointers are checked by the table
// test: a sanitized build cannot compare them at compile time). Every part a unary row takes from is one
// of the separable operator's, so there must be one when any row takes from a part; and a row's role fits
// its arity.
inline constexpr std::size_t separable_count() {
    std::size_t n = 0;
    for (const OpInfo& o : kOps) n += o.parts.role == Parts::Role::Separable;
    return n;
}
inline constexpr bool parts_fit_the_rows() {
    bool from_part = false;
    for (const OpInfo& o : kOps) {
        if (o.parts.role == Parts::Role::Separable && o.arity != 2) return false;
        if (o.parts.role == Parts::Role::FromPart) {
            if (o.arity != 1 || o.parts.part >= kParts) return false;
            from_part = true;
        }
    }
    return separable_count() <= 1 && (!from_part || separable_count() == 1);
}
static_assert(parts_fit_the_rows());

// True for a code that has a row in the table.
inline constexpr bool is_op(OpKind op) noexcept { return static_cast<std::size_t>(op) < kOps.size(); }

inline constexpr const OpInfo& op_info(OpKind op) noexcept { return kOps[static_cast<std::size_t>(op)]; }

// Operands the operator takes. A code outside the table counts as binary and never evaluates.
inline constexpr unsigned arity(OpKind op) noexcept { return is_op(op) ? op_info(op).arity : 2u; }

// One operator on scalars: false when the guard trips, the result is infinite or NaN, or op is not an
// operator code.
inline bool apply_op(OpKind op, double a, double b, double& out) noexcept {
    if (!is_op(op)) return false;
    double r = 0.0;
    if (!op_info(op).kernel(a, b, r) || !std::isfinite(r)) return false;
    out = r;
    return true;
}

// The same operator over n lanes: out[i] = op(a[i], b[i]) (b is ignored for unary operators and may be
// null). Each lane gives exactly the scalar result; false when any lane fails. out may alias a or b.
bool apply_lanes(OpKind op, const double* a, const double* b, double* out, std::size_t n) noexcept;

// Part p of the separable operator over n lanes: out[i] = kernels[p](a[i]), no check. out may alias a. Only
// when the table has a separable operator.
void part_lanes(std::size_t p, const double* a, double* out, std::size_t n) noexcept;

// True when operands keep parts for the offered operators: when the separable operator is among them.
bool keeps_parts(std::span<const OpKind> offered) noexcept;

// One operand over some lanes (the probe points, or a stretch of rows) as a caller holds it: its values
// and, when the caller keeps them, its parts; null where not held.
struct Operand {
    const double* values = nullptr;
    std::array<const double*, kParts> parts{};
};

// The lane kernels of the routes below, in one shape: (first, second) are the operands' values for the
// plain lanes, the operand's values and its part for a unary row with a part, and the two operands' parts
// for the separable operator. The storing form writes each lane's result; the scoring form adds (r - y[i])
// squared to sum for the lanes i < m, one lane after the other, and only checks the lanes from m to n.
using StoreKernel = bool (*)(const double* first, const double* second, double* out, std::size_t n) noexcept;
using ScoreKernel = bool (*)(const double* first, const double* second, const double* y, std::size_t m,
                             std::size_t n, double& sum) noexcept;
// The moments form adds each lane i < m to acc as row i of the target lanes (moments.hpp), one lane after
// the other, and only checks the lanes from m to n.
using MomentsKernel = bool (*)(const double* first, const double* second, const TargetLanes& target, std::size_t m,
                               std::size_t n, Moments& acc) noexcept;
struct RouteKernels {
    StoreKernel store;
    ScoreKernel score;
    MomentsKernel moments;
};
// Per row in code order: the plain lanes, and the lanes from a part (null for a row without a part).
struct RowRoutes {
    RouteKernels lanes, from_part;
};
extern const std::array<RowRoutes, kOps.size()> kRowRoutes;
// The separable operator from its operands' parts; and a route that fails every lane (no such operator).
extern const RouteKernels kFromParts, kRefused;

// An operator bound to its operands by the cheapest route that what they hold allows: for the separable
// operator the two operands' parts, for a unary operator with a part its operand's part (where the row
// says the part is the result), else the operands' values through the operator's lanes. Every route gives
// apply_lanes's results and verdict on the operands' values, bit for bit, so a caller never needs to know
// which was taken. The route is chosen once, when the pass is made; the pass then runs over any lanes.
class OperandPass {
public:
    // b is not read for a unary operator (it may be a again). A code outside the table fails every lane.
    OperandPass(OpKind op, const Operand& a, const Operand& b) noexcept {
        if (!is_op(op)) {
            route_ = kRefused;
            first_ = a.values;
            return;
        }
        const OpInfo& o = op_info(op);
        if (o.parts.role == Parts::Role::Separable && a.parts[0] && b.parts[1]) {
            route_ = kFromParts;
            first_ = a.parts[0];
            second_ = b.parts[1];
            reads_second_ = true;
        } else if (o.parts.role == Parts::Role::FromPart && a.parts[o.parts.part]) {
            route_ = kRowRoutes[static_cast<std::size_t>(op)].from_part;
            first_ = a.values;
            second_ = a.parts[o.parts.part];
            reads_second_ = true;
        } else {
            route_ = kRowRoutes[static_cast<std::size_t>(op)].lanes;
            first_ = a.values;
            reads_second_ = o.arity == 2;
            if (reads_second_) second_ = b.values;
        }
    }

    // True when the operands hold everything the route reads; apply and score need it.
    bool ready() const noexcept { return first_ != nullptr && (second_ != nullptr || !reads_second_); }

    // Lanes [from, from + n) into out; false when any lane fails. out may alias what the route reads.
    bool apply(std::size_t from, std::size_t n, double* out) const noexcept {
        return route_.store(first_ + from, second_ ? second_ + from : nullptr, out, n);
    }

    // Lanes [from, from + n) scored instead of stored: adds (r - y[i]) squared to sum for the lanes i < m,
    // one lane after the other, and only checks the lanes from m to n; the verdict is apply's, and the sum
    // the one a caller would add from apply's results.
    bool score(std::size_t from, const double* y, std::size_t m, std::size_t n, double& sum) const noexcept {
        return route_.score(first_ + from, second_ ? second_ + from : nullptr, y, m, n, sum);
    }

    // Lanes [from, from + n) added to a candidate's moments instead: lane i < m as row i of target; the
    // verdict is apply's, and the moments the ones a caller would add from apply's results.
    bool moments(std::size_t from, const TargetLanes& target, std::size_t m, std::size_t n,
                 Moments& acc) const noexcept {
        return route_.moments(first_ + from, second_ ? second_ + from : nullptr, target, m, n, acc);
    }

private:
    RouteKernels route_;
    const double* first_ = nullptr;
    const double* second_ = nullptr;
    bool reads_second_ = false;
};

}  // namespace kiv::discover
