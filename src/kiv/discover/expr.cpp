// Expression evaluation: a value stack per point, and a stack of row batches for column-wise passes.
#include "kiv/discover/expr.hpp"

#include <algorithm>
#include <bit>

#include "kiv/failure.hpp"

namespace kiv::discover {

bool operator==(const Token& a, const Token& b) noexcept {
    if (a.kind != b.kind) return false;
    auto same_bits = [](double x, double y) { return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y); };
    switch (a.kind) {
        case TokenKind::Const: return same_bits(a.value, b.value);
        case TokenKind::Param: return a.index == b.index && same_bits(a.value, b.value);
        case TokenKind::Var: return a.index == b.index;
        case TokenKind::Op: return a.op == b.op;
    }
    return false;
}

std::optional<double> eval_point(const Expr& expr, std::span<const double> point, std::span<const double> params) {
    if (expr.empty()) return std::nullopt;
    std::vector<double> stack;
    stack.reserve(expr.size());
    for (const Token& t : expr) {
        switch (t.kind) {
            case TokenKind::Const: stack.push_back(t.value); break;
            case TokenKind::Param: stack.push_back(t.index < params.size() ? params[t.index] : t.value); break;
            case TokenKind::Var:
                if (t.index >= point.size()) return std::nullopt;
                stack.push_back(point[t.index]);
                break;
            case TokenKind::Op: {
                unsigned k = arity(t.op);
                if (stack.size() < k) return std::nullopt;
                double r;
                if (k == 1) {
                    if (!apply_op(t.op, stack.back(), 0.0, r)) return std::nullopt;
                    stack.back() = r;
                } else {
                    double b = stack.back();
                    stack.pop_back();
                    if (!apply_op(t.op, stack.back(), b, r)) return std::nullopt;
                    stack.back() = r;
                }
                break;
            }
            default: return std::nullopt;
        }
    }
    if (stack.size() != 1) return std::nullopt;
    return stack.front();
}

std::vector<double> gather_row(const Columns& columns, std::size_t r) {
    std::vector<double> row;
    row.reserve(columns.size());
    for (const auto& column : columns) row.push_back(kiv::at(column, r));
    return row;
}

RowExtent row_extent(const Columns& columns) {
    const auto& first = kiv::at(columns, 0);
    RowExtent e;
    e.rows = first.size();
    e.complete = e.rows;
    for (const auto& column : columns) e.complete = std::min(e.complete, column.size());
    return e;
}

void throw_incomplete_row(const RowExtent& extent) {
    // Row `complete` is the first row some column lacks; the first such column has exactly that length.
    index_out_of_bounds(extent.complete, extent.complete);
}

std::optional<std::size_t> stack_depth(const Expr& expr, std::size_t n_vars) noexcept {
    std::size_t size = 0, depth = 0;
    for (const Token& t : expr) {
        switch (t.kind) {
            case TokenKind::Const:
            case TokenKind::Param: ++size; break;
            case TokenKind::Var:
                if (t.index >= n_vars) return std::nullopt;
                ++size;
                break;
            case TokenKind::Op:
                if (!is_op(t.op) || size < arity(t.op)) return std::nullopt;
                size -= arity(t.op) - 1;
                break;
            default: return std::nullopt;
        }
        depth = std::max(depth, size);
    }
    if (size != 1) return std::nullopt;
    return depth;
}

bool eval_rows(const Expr& expr, std::size_t depth, const Columns& columns, std::span<const double> params,
               std::size_t begin, std::size_t end, double* out, std::vector<double>& stack) {
    const std::size_t n = end - begin;
    return eval_batch(
        expr, depth, n, params,
        [&](std::size_t index, double* dst) { std::copy_n(columns[index].data() + begin, n, dst); }, out, stack);
}

std::optional<std::vector<double>> eval_dataset(const Expr& expr, const Columns& columns,
                                                std::span<const double> params) {
    std::vector<double> out;
    const bool ok = for_each_batch(expr, columns, params, [&](std::size_t, const double* v, std::size_t n) {
        out.insert(out.end(), v, v + n);
    });
    if (!ok) return std::nullopt;
    return out;
}

}  // namespace kiv::discover
