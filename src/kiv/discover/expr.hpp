// Candidate formulas as postfix token sequences, and their evaluation at a point and over column data.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kiv/discover/ops.hpp"

namespace kiv::discover {

enum class TokenKind : std::uint8_t { Const, Param, Var, Op };

// One postfix token. Const uses value; Param uses index and value (its stored value); Var uses index;
// Op uses op.
struct Token {
    TokenKind kind = TokenKind::Const;
    OpKind op = OpKind::Neg;
    std::size_t index = 0;
    double value = 0.0;

    static Token constant(double v) noexcept { return Token{TokenKind::Const, OpKind::Neg, 0, v}; }
    static Token param(std::size_t i, double v) noexcept { return Token{TokenKind::Param, OpKind::Neg, i, v}; }
    static Token var(std::size_t i) noexcept { return Token{TokenKind::Var, OpKind::Neg, i, 0.0}; }
    static Token oper(OpKind o) noexcept { return Token{TokenKind::Op, o, 0, 0.0}; }
};

// Tokens are equal when they have the same kind and the fields of that kind agree; values are compared by
// their bit patterns, so 0.0 and -0.0 differ and a NaN equals the same NaN.
bool operator==(const Token& a, const Token& b) noexcept;

// A candidate formula in postfix order; its complexity is its token count.
using Expr = std::vector<Token>;

// Column-major data: one float vector per variable; the row count is the first column's length.
using Columns = std::vector<std::vector<double>>;

// Value of expr at one point (one value per variable); no value when evaluation fails.
std::optional<double> eval_point(const Expr& expr, std::span<const double> point, std::span<const double> params);

// Row r across all columns: [column 0 element r, column 1 element r, ...]. A column without element r
// raises the index-out-of-bounds internal failure.
std::vector<double> gather_row(const Columns& columns, std::size_t r);

// Values of expr on every row, in row order, or no value when any row fails. Raises the
// index-out-of-bounds internal failure when there are no columns, or when a row that the evaluation
// reaches is missing from a later column (exactly as evaluating row by row with gather_row would).
std::optional<std::vector<double>> eval_dataset(const Expr& expr, const Columns& columns,
                                                std::span<const double> params);

// Row extent of column data: rows is the first column's length, complete the number of leading rows that
// every column holds. Raises the index-out-of-bounds failure when there are no columns.
struct RowExtent {
    std::size_t rows = 0;
    std::size_t complete = 0;
};
RowExtent row_extent(const Columns& columns);

// The failure that row-by-row evaluation meets at the first incomplete row, if it gets there.
[[noreturn]] void throw_incomplete_row(const RowExtent& extent);

// Stack depth that evaluating expr needs, or no value when the sequence cannot evaluate on any point with
// n_vars values (a missing operand, a variable beyond the point, or a final stack not of one value).
std::optional<std::size_t> stack_depth(const Expr& expr, std::size_t n_vars) noexcept;

// Rows evaluated per column-wise pass.
inline constexpr std::size_t kRowBatch = 256;

// Column-wise evaluation of a well-formed expression (depth from stack_depth) on one batch of n <= kRowBatch
// rows: load_var(index, dst) writes the batch's n values of variable index to dst. Writes n values to out and
// returns true, or returns false when any of those rows fails. stack is scratch space that grows as needed.
template <class LoadVar>
bool eval_batch(const Expr& expr, std::size_t depth, std::size_t n, std::span<const double> params,
                LoadVar&& load_var, double* out, std::vector<double>& stack) {
    if (stack.size() < depth * kRowBatch) stack.resize(depth * kRowBatch);
    std::size_t sp = 0;  // number of slots in use
    auto slot = [&](std::size_t s) { return stack.data() + s * kRowBatch; };
    for (const Token& t : expr) {
        switch (t.kind) {
            case TokenKind::Const: std::fill_n(slot(sp++), n, t.value); break;
            case TokenKind::Param:
                std::fill_n(slot(sp++), n, t.index < params.size() ? params[t.index] : t.value);
                break;
            case TokenKind::Var: load_var(t.index, slot(sp++)); break;
            case TokenKind::Op:
                if (arity(t.op) == 1) {
                    if (!apply_lanes(t.op, slot(sp - 1), nullptr, slot(sp - 1), n)) return false;
                } else {
                    if (!apply_lanes(t.op, slot(sp - 2), slot(sp - 1), slot(sp - 2), n)) return false;
                    --sp;
                }
                break;
        }
    }
    std::copy_n(slot(0), n, out);
    return true;
}

// eval_batch on rows [begin, end), end - begin <= kRowBatch, of column data, all of them present in every
// column (depth from stack_depth over columns.size()).
bool eval_rows(const Expr& expr, std::size_t depth, const Columns& columns, std::span<const double> params,
               std::size_t begin, std::size_t end, double* out, std::vector<double>& stack);

// Evaluates expr column-wise on every row and passes each batch of values, in row order, to
// sink(begin, values, count); false when any row fails. Data errors raise as eval_dataset describes.
template <class Sink>
bool for_each_batch(const Expr& expr, const Columns& columns, std::span<const double> params, Sink sink) {
    const RowExtent extent = row_extent(columns);
    if (extent.complete > 0) {
        auto depth = stack_depth(expr, columns.size());
        if (!depth) return false;
        std::vector<double> stack;
        double out[kRowBatch];
        for (std::size_t r = 0; r < extent.complete; r += kRowBatch) {
            const std::size_t e = std::min(extent.complete, r + kRowBatch);
            if (!eval_rows(expr, *depth, columns, params, r, e, out, stack)) return false;
            sink(r, static_cast<const double*>(out), e - r);
        }
    }
    if (extent.complete < extent.rows) throw_incomplete_row(extent);
    return true;
}

}  // namespace kiv::discover
