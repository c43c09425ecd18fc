// Element-wise batch kernels over the guarded primitives, for contiguous vectors and strided runs alike.
#include "kiv/batch.hpp"

#include <algorithm>
#include <cmath>

#include "kiv/pool.hpp"
#include "kiv/primitives.hpp"

namespace kiv::batch {
namespace {

// Below this many elements per chunk the hand-off to another thread costs more than the work.
constexpr std::size_t kMinChunk = 4096;

// Strided runs shorter than these stay on the calling thread. Measured with two threads against one on
// contiguous float64 runs, best of many calls (the run-length table of bench/bench_ufunc.py): a hand-off
// costs some tens of microseconds, which exp wins back from 8192 elements (2 threads 1.5x faster there)
// at about 5 ns an element; the arithmetic and sqrt, at 0.5 to 2 ns an element and bound by memory,
// showed no gain below 65536.
constexpr std::size_t kParallelCheap = 1 << 16;
constexpr std::size_t kParallelLibm = 1 << 13;

// The one definition of every element-wise operation: calls f with the operation as a callable.
template <class F>
void with_op(Unary op, F&& f) {
    switch (op) {
        case Unary::Exp: f([](double x) { return guarded_exp(x); }); break;
        case Unary::Ln: f([](double y) { return guarded_ln(y); }); break;
        case Unary::Sqrt: f([](double x) { return abs_sqrt(x); }); break;
        case Unary::Sin: f([](double x) { return std::sin(x); }); break;
        case Unary::Cos: f([](double x) { return std::cos(x); }); break;
    }
}

template <class F>
void with_op(Binary op, F&& f) {
    switch (op) {
        case Binary::Add: f([](double a, double b) { return plain_add(a, b); }); break;
        case Binary::Sub: f([](double a, double b) { return a - b; }); break;
        case Binary::Mul: f([](double a, double b) { return plain_mul(a, b); }); break;
        case Binary::Div: f([](double a, double b) { return safe_div(a, b); }); break;
        case Binary::Pow: f([](double a, double b) { return abs_pow(a, b); }); break;
        case Binary::Tension: f([](double x, double y) { return kiv(x, y); }); break;
    }
}

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

constexpr std::ptrdiff_t kStep = sizeof(double);

// Elements [b, e) of a strided run; unit steps take a plain pointer loop the compiler can vectorise.
template <class Op>
void unary_range(std::size_t b, std::size_t e, StridedIn x, StridedOut o, Op op) {
    if (x.step == kStep && o.step == kStep) {
        const double* in = reinterpret_cast<const double*>(x.data);
        double* dst = reinterpret_cast<double*>(o.data);
        for (std::size_t i = b; i < e; ++i) dst[i] = op(in[i]);
    } else {
        for (std::size_t i = b; i < e; ++i) o.set(i, op(x[i]));
    }
}

template <class Op>
void binary_range(std::size_t b, std::size_t e, StridedIn x, StridedIn y, StridedOut o, Op op) {
    if (x.step == kStep && y.step == kStep && o.step == kStep) {
        const double* p = reinterpret_cast<const double*>(x.data);
        const double* q = reinterpret_cast<const double*>(y.data);
        double* dst = reinterpret_cast<double*>(o.data);
        for (std::size_t i = b; i < e; ++i) dst[i] = op(p[i], q[i]);
    } else {
        for (std::size_t i = b; i < e; ++i) o.set(i, op(x[i], y[i]));
    }
}

// Runs body(begin, end) over [0, n): on the pool when allowed and long enough, else right here.
template <class Body>
void schedule(std::size_t n, std::size_t threshold, Split split, const Body& body) {
    if (split == Split::Allowed && n >= threshold) {
        pool::parallel_for(n, kMinChunk, body);
    } else if (n > 0) {
        body(0, n);
    }
}

}  // namespace

void apply_into(Unary op, std::span<const double> xs, std::span<double> out) {
    with_op(op, [&](auto f) { run_unary(xs, out, f); });
}

void apply_into(Binary op, std::span<const double> as, std::span<const double> bs, std::span<double> out) {
    with_op(op, [&](auto f) { run_binary(as, bs, out, f); });
}

void apply_strided(Unary op, std::size_t n, StridedIn xs, StridedOut out, Split split) {
    with_op(op, [&](auto f) {
        schedule(n, parallel_threshold(op), split, [=](std::size_t b, std::size_t e) { unary_range(b, e, xs, out, f); });
    });
}

void apply_strided(Binary op, std::size_t n, StridedIn as, StridedIn bs, StridedOut out, Split split) {
    with_op(op, [&](auto f) {
        schedule(n, parallel_threshold(op), split,
                 [=](std::size_t b, std::size_t e) { binary_range(b, e, as, bs, out, f); });
    });
}

std::size_t parallel_threshold(Unary op) noexcept {
    return op == Unary::Sqrt ? kParallelCheap : kParallelLibm;
}

std::size_t parallel_threshold(Binary op) noexcept {
    switch (op) {
        case Binary::Pow:
        case Binary::Tension: return kParallelLibm;
        default: return kParallelCheap;
    }
}

}  // namespace kiv::batch
