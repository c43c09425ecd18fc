// Element-wise batch kernels: one scalar operation applied over whole float vectors on the worker pool.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace kiv::batch {

enum class Unary { Exp, Ln, Sqrt, Sin, Cos };
enum class Binary { Add, Sub, Mul, Div, Pow, Tension };

// out[i] = op(xs[i]); the result has the length of xs.
std::vector<double> apply(Unary op, std::span<const double> xs);

// out[i] = op(as[i], bs[i]); the result has the length of the shorter input.
std::vector<double> apply(Binary op, std::span<const double> as, std::span<const double> bs);

}  // namespace kiv::batch
