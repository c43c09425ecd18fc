// Element-wise batch kernels over the guarded primitives.
#include "kiv/batch.hpp"

#include <algorithm>
#include <cmath>

#include "kiv/pool.hpp"
#include "kiv/primitives.hpp"

namespace kiv::batch {
namespace {

// Below this many elements per chunk the hand-off to another thread costs more than the work.
constexpr std::size_t kMinChunk = 4096;

template <class Op>
void run_unary(std::span<const double> xs, std::span<double> out, Op op) {
    const double* in = xs.data();
    double* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk, [=](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) dst[i] = op(in[i]);
    });
}

template <class Op>
void run_binary(std::span<const double> as, std::span<const double> bs, std::span<double> out, Op op) {
    const double* a = as.data();
    const double* c = bs.data();
    double* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk, [=](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) dst[i] = op(a[i], c[i]);
    });
}

}  // namespace

void apply_into(Unary op, std::span<const double> xs, std::span<double> out) {
    switch (op) {
        case Unary::Exp: run_unary(xs, out, [](double x) { return guarded_exp(x); }); break;
        case Unary::Ln: run_unary(xs, out, [](double y) { return guarded_ln(y); }); break;
        case Unary::Sqrt: run_unary(xs, out, [](double x) { return abs_sqrt(x); }); break;
        case Unary::Sin: run_unary(xs, out, [](double x) { return std::sin(x); }); break;
        case Unary::Cos: run_unary(xs, out, [](double x) { return std::cos(x); }); break;
    }
}

void apply_into(Binary op, std::span<const double> as, std::span<const double> bs, std::span<double> out) {
    switch (op) {
        case Binary::Add: run_binary(as, bs, out, [](double a, double b) { return a + b; }); break;
        case Binary::Sub: run_binary(as, bs, out, [](double a, double b) { return a - b; }); break;
        case Binary::Mul: run_binary(as, bs, out, [](double a, double b) { return a * b; }); break;
        case Binary::Div: run_binary(as, bs, out, [](double a, double b) { return safe_div(a, b); }); break;
        case Binary::Pow: run_binary(as, bs, out, [](double a, double b) { return abs_pow(a, b); }); break;
        case Binary::Tension: run_binary(as, bs, out, [](double x, double y) { return kiv(x, y); }); break;
    }
}

std::vector<double> apply(Unary op, std::span<const double> xs) {
    std::vector<double> out(xs.size());
    apply_into(op, xs, out);
    return out;
}

std::vector<double> apply(Binary op, std::span<const double> as, std::span<const double> bs) {
    std::vector<double> out(std::min(as.size(), bs.size()));
    apply_into(op, as, bs, out);
    return out;
}

}  // namespace kiv::batch
