// Element-wise batch kernels: one scalar operation applied over whole float vectors on the worker pool.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace kiv::batch {

enum class Unary { Exp, Ln, Sqrt, Sin, Cos };
enum class Binary { Add, Sub, Mul, Div, Pow, Tension };

// out[i] = op(xs[i]) for every slot of out (out is no longer than xs).
void apply_into(Unary op, std::span<const double> xs, std::span<double> out);

// out[i] = op(as[i], bs[i]) for every slot of out (out is no longer than either input).
void apply_into(Binary op, std::span<const double> as, std::span<const double> bs, std::span<double> out);

// The same as whole vectors: the result has the length of xs, or of the shorter input.
std::vector<double> apply(Unary op, std::span<const double> xs);
std::vector<double> apply(Binary op, std::span<const double> as, std::span<const double> bs);

}  // namespace kiv::batch
