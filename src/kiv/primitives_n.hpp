// The guarded primitives over arrays: every element the scalar primitive's bits, exp and log taken a
// block at a time on the vector path.
#pragma once

#include <cstddef>

namespace kiv {

// out[i] = f(x[i]) for i < n, f the scalar primitive of the same name (primitives.hpp); out may be the
// input itself, element for element, but must not overlap it otherwise.
void guarded_exp_n(const double* x, double* out, std::size_t n) noexcept;
void bounded_exp_n(const double* x, double* out, std::size_t n) noexcept;
void search_kiv_exp_n(const double* x, double* out, std::size_t n) noexcept;
void guarded_ln_n(const double* y, double* out, std::size_t n) noexcept;
void floored_ln_n(const double* y, double* out, std::size_t n) noexcept;

// out[i] = kiv(x[i], y[i]) and search_kiv(x[i], y[i]) for i < n; out may be either input, element for
// element.
void kiv_n(const double* x, const double* y, double* out, std::size_t n) noexcept;
void search_kiv_n(const double* x, const double* y, double* out, std::size_t n) noexcept;

}  // namespace kiv
