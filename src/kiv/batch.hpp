// Element-wise batch kernels: one scalar operation applied over whole float vectors on the worker pool.
#pragma once

#include <cstddef>
#include <span>

#include "kiv/strided.hpp"

namespace kiv::batch {

enum class Unary { Exp, Ln, Sqrt, Sin, Cos };
enum class Binary { Add, Sub, Mul, Div, Pow, Tension };

// out[i] = op(xs[i]) for every slot of out (out is no longer than xs).
void apply_into(Unary op, std::span<const double> xs, std::span<double> out);

// out[i] = op(as[i], bs[i]) for every slot of out (out is no longer than either input).
void apply_into(Binary op, std::span<const double> as, std::span<const double> bs, std::span<double> out);

// out[i] = op(xs[i]) for i < n over strided runs (array views; out may be xs itself, element for element).
// Runs of at least parallel_threshold(op) elements go to the worker pool unless split is Never; smaller
// ones stay on the calling thread. The result never depends on which.
void apply_strided(Unary op, std::size_t n, StridedIn xs, StridedOut out, Split split);

// out[i] = op(as[i], bs[i]) for i < n over strided runs, scheduled as the unary form.
void apply_strided(Binary op, std::size_t n, StridedIn as, StridedIn bs, StridedOut out, Split split);

// Run length from which apply_strided hands work to the pool: below it a hand-off costs more than the
// second thread saves (measured per kind of operation).
std::size_t parallel_threshold(Unary op) noexcept;
std::size_t parallel_threshold(Binary op) noexcept;

}  // namespace kiv::batch
