// The operator table of the expression language: one row per operator, read by evaluation, rendering,
// validation and the search.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

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

// One operand's part of a split operator (see OpInfo::parts).
using PartKernel = double (*)(double) noexcept;

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
    // A binary operator without a guard whose kernel computes parts[0](a) - parts[1](b) is split: a
    // caller that keeps each operand's part gets the same result from one subtraction. Null otherwise.
    std::array<PartKernel, 2> parts{};
    // A unary operator whose result is part `part` of the split operator's (with the guard passing)
    // wherever part_holds(a) is true; elsewhere the kernel decides. -1 and null otherwise.
    int part = -1;
    bool (*part_holds)(double a) noexcept = nullptr;
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
     [](double a, double, double& r) noexcept { r = std::exp(a); return true; }, {}, 0,
     // Part 0 takes the log of an operand above the search threshold first; below it (and for a NaN)
     // it is exp itself.
     [](double a) noexcept { return !(a > kSearchExpThreshold); }},
    {OpKind::Ln, "ln", 1, "ln(", "", ")", "\\ln(", "math.log(", Offer::Always, false,
     [](double a, double, double& r) noexcept {
         if (a <= 0.0) return false;
         r = std::log(a);
         return true;
     },
     {}, 1,
     // Part 1 is the plain log of a positive operand or a NaN, which are what the guard lets through.
     [](double a) noexcept { return a > 0.0 || std::isnan(a); }},
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
     {[](double a) noexcept { return search_kiv_exp(a); }, [](double b) noexcept { return floored_ln(b); }}},
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

// Names are what the package's exporters key on, so each row has its own.
inline constexpr bool names_unique() {
    for (std::size_t i = 0; i < kOps.size(); ++i) {
        if (kOps[i].name.empty()) return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (kOps[i].name == kOps[j].name) return false;
        }
    }
    return true;
}
static_assert(names_unique());

// The one split operator, whose parts a search keeps per operand. This and the next property are checked
// by the table test: they compare function pointers, which a sanitized build cannot do at compile time.
inline constexpr OpKind kSplitOp = OpKind::Kiv;
inline constexpr bool only_split_op() {
    for (const OpInfo& o : kOps) {
        if ((o.parts[0] != nullptr) != (o.op == kSplitOp)) return false;
    }
    return true;
}

// apply_lanes_from_part knows the unary operators with a part.
inline constexpr bool only_exp_and_ln_have_parts() {
    for (const OpInfo& o : kOps) {
        if ((o.part >= 0) != (o.op == OpKind::Exp || o.op == OpKind::Ln)) return false;
        if ((o.part >= 0) != (o.part_holds != nullptr)) return false;
    }
    return true;
}

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

// Part p of the split operator over n lanes: out[i] = parts[p](a[i]), no check. out may alias a.
void split_part_lanes(std::size_t p, const double* a, double* out, std::size_t n) noexcept;

// The split operator from kept parts: out[i] = first[i] - second[i], where first holds part 0 of its first
// operand and second part 1 of its second; false when a lane is infinite or NaN, exactly as apply_lanes
// on the operands themselves.
bool split_lanes(const double* first, const double* second, double* out, std::size_t n) noexcept;

// A unary operator with a part (OpInfo::part) over n lanes, given that part of each operand: the same
// results and the same verdict as apply_lanes(op, a, nullptr, out, n).
bool apply_lanes_from_part(OpKind op, const double* a, const double* part, double* out, std::size_t n) noexcept;

// The scoring forms of the three lane functions above: instead of storing the result r of lane i, each adds
// (r - y[i]) squared to sum for the lanes i < m, one lane after the other, and only checks the lanes from m
// to n; the verdict is the storing form's, and the sum the one a caller would add from the stored results.
bool score_lanes(OpKind op, const double* a, const double* b, const double* y, std::size_t m, std::size_t n,
                 double& sum) noexcept;
bool score_lanes_from_part(OpKind op, const double* a, const double* part, const double* y, std::size_t m,
                           std::size_t n, double& sum) noexcept;
bool score_split_lanes(const double* first, const double* second, const double* y, std::size_t m, std::size_t n,
                       double& sum) noexcept;

// The same at one point.
inline bool apply_split(double first, double second, double& out) noexcept {
    const double r = first - second;
    if (!std::isfinite(r)) return false;
    out = r;
    return true;
}

}  // namespace kiv::discover
