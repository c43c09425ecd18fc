// The guarded primitives over arrays: each is exp- or log-like (vmath.hpp), so the vector path computes
// the range where it is exp or log (of its argument) and the scalar primitive itself the rest.
#include "kiv/primitives_n.hpp"

#include <algorithm>

#include "kiv/primitives.hpp"
#include "kiv/vmath.hpp"

namespace kiv {
namespace {

// Elements per pass of the two-operand forms: both operands' parts stay in the first-level cache.
constexpr std::size_t kBlock = 256;

// part0(x[i]) - part1(y[i]) for i < n.
template <auto Part0, auto Part1>
void difference_n(const double* x, const double* y, double* out, std::size_t n) noexcept {
    for (std::size_t b = 0; b < n; b += kBlock) {
        const std::size_t m = std::min(kBlock, n - b);
        double e[kBlock], l[kBlock];
        Part0(x + b, e, m);
        Part1(y + b, l, m);
        for (std::size_t i = 0; i < m; ++i) out[b + i] = e[i] - l[i];
    }
}

}  // namespace

void guarded_exp_n(const double* x, double* out, std::size_t n) noexcept { vmath::exp(x, out, n, guarded_exp); }

void bounded_exp_n(const double* x, double* out, std::size_t n) noexcept { vmath::exp(x, out, n, bounded_exp); }

void search_kiv_exp_n(const double* x, double* out, std::size_t n) noexcept {
    vmath::exp(x, out, n, search_kiv_exp);
}

// Both take the logarithm of |y| for a negative y; floored_ln only from the log floor up.
void guarded_ln_n(const double* y, double* out, std::size_t n) noexcept {
    vmath::log(y, out, n, guarded_ln, {.fold = true});
}

void floored_ln_n(const double* y, double* out, std::size_t n) noexcept {
    vmath::log(y, out, n, floored_ln, {.fold = true, .lower = kLogFloor});
}

void kiv_n(const double* x, const double* y, double* out, std::size_t n) noexcept {
    difference_n<guarded_exp_n, guarded_ln_n>(x, y, out, n);
}

void search_kiv_n(const double* x, const double* y, double* out, std::size_t n) noexcept {
    difference_n<search_kiv_exp_n, floored_ln_n>(x, y, out, n);
}

}  // namespace kiv
