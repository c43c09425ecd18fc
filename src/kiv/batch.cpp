// Element-wise batch kernels over the guarded primitives, for contiguous vectors and strided runs alike.
#include "kiv/batch.hpp"

#include <algorithm>
#include <cmath>

#include "kiv/pool.hpp"
#include "kiv/primitives.hpp"
#include "kiv/primitives_n.hpp"
#include "kiv/vmath.hpp"

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
// exp, ln and tension on the vector path cost a quarter to a third of what the library's per-element
// calls cost (bench/bench_vmath.py), so a hand-off pays from about four times the run length.
constexpr std::size_t kParallelVector = 1 << 15;

// Whether exp and log run on a vector path in this process (vmath.hpp).
bool vector_math() noexcept {
    static const bool on = vmath::path().name != "libm";
    return on;
}

// An element-wise operation that also has an array form with the same bits (exp and log a block at a
// time on the vector path). Runs that must go element by element, in order, use the element form.
template <class One>
struct UnaryWithArray {
    One one;
    void (*many)(const double* x, double* out, std::size_t n) noexcept;
    double operator()(double x) const noexcept { return one(x); }
};

template <class One>
struct BinaryWithArray {
    One one;
    void (*many)(const double* a, const double* b, double* out, std::size_t n) noexcept;
    double operator()(double a, double b) const noexcept { return one(a, b); }
};

template <class Op>
concept HasArrayForm = requires(Op op) { op.many; };

// The element form of an operation.
template <class Op>
auto in_order(Op op) {
    if constexpr (HasArrayForm<Op>) {
        return op.one;
    } else {
        return op;
    }
}

// Elements gathered from, or scattered to, strided runs per call of an array form.
constexpr std::size_t kGather = 256;

// The one definition of every element-wise operation: calls f with the operation as a callable.
template <class F>
void with_op(Unary op, F&& f) {
    switch (op) {
        case Unary::Exp: f(UnaryWithArray{[](double x) { return guarded_exp(x); }, guarded_exp_n}); break;
        case Unary::Ln: f(UnaryWithArray{[](double y) { return guarded_ln(y); }, guarded_ln_n}); break;
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
        case Binary::Tension: f(BinaryWithArray{[](double x, double y) { return kiv(x, y); }, kiv_n}); break;
    }
}

// Contiguous elements [0, n).
template <class Op>
void unary_span(const double* in, double* dst, std::size_t n, Op op) {
    if constexpr (HasArrayForm<Op>) {
        op.many(in, dst, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) dst[i] = op(in[i]);
    }
}

template <class Op>
void binary_span(const double* a, const double* c, double* dst, std::size_t n, Op op) {
    if constexpr (HasArrayForm<Op>) {
        op.many(a, c, dst, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) dst[i] = op(a[i], c[i]);
    }
}

template <class Op>
void run_unary(std::span<const double> xs, std::span<double> out, Op op) {
    const double* in = xs.data();
    double* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk,
                       [=](std::size_t b, std::size_t e) { unary_span(in + b, dst + b, e - b, op); });
}

template <class Op>
void run_binary(std::span<const double> as, std::span<const double> bs, std::span<double> out, Op op) {
    const double* a = as.data();
    const double* c = bs.data();
    double* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk,
                       [=](std::size_t b, std::size_t e) { binary_span(a + b, c + b, dst + b, e - b, op); });
}

constexpr std::ptrdiff_t kStep = sizeof(double);

// Elements [b, e) of a strided run; unit steps take a plain pointer loop the compiler can vectorise, and
// other steps reach an array form through a buffer.
template <class Op>
void unary_range(std::size_t b, std::size_t e, StridedIn x, StridedOut o, Op op) {
    if (x.step == kStep && o.step == kStep) {
        const double* in = reinterpret_cast<const double*>(x.data);
        double* dst = reinterpret_cast<double*>(o.data);
        unary_span(in + b, dst + b, e - b, op);
    } else if constexpr (HasArrayForm<Op>) {
        double t[kGather];
        for (std::size_t s = b; s < e; s += kGather) {
            const std::size_t m = std::min(kGather, e - s);
            for (std::size_t k = 0; k < m; ++k) t[k] = x[s + k];
            op.many(t, t, m);
            for (std::size_t k = 0; k < m; ++k) o.set(s + k, t[k]);
        }
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
        binary_span(p + b, q + b, dst + b, e - b, op);
    } else if constexpr (HasArrayForm<Op>) {
        double t[kGather], u[kGather];
        for (std::size_t s = b; s < e; s += kGather) {
            const std::size_t m = std::min(kGather, e - s);
            for (std::size_t k = 0; k < m; ++k) {
                t[k] = x[s + k];
                u[k] = y[s + k];
            }
            op.many(t, u, t, m);
            for (std::size_t k = 0; k < m; ++k) o.set(s + k, t[k]);
        }
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

// A run that may not be split may also read what its earlier elements wrote (a reduction, a running
// sum), so it goes element by element, in order.
void apply_strided(Unary op, std::size_t n, StridedIn xs, StridedOut out, Split split) {
    with_op(op, [&](auto f) {
        auto run = [&](auto g) {
            schedule(n, parallel_threshold(op), split,
                     [=](std::size_t b, std::size_t e) { unary_range(b, e, xs, out, g); });
        };
        if (split == Split::Never) {
            run(in_order(f));
        } else {
            run(f);
        }
    });
}

void apply_strided(Binary op, std::size_t n, StridedIn as, StridedIn bs, StridedOut out, Split split) {
    with_op(op, [&](auto f) {
        auto run = [&](auto g) {
            schedule(n, parallel_threshold(op), split,
                     [=](std::size_t b, std::size_t e) { binary_range(b, e, as, bs, out, g); });
        };
        if (split == Split::Never) {
            run(in_order(f));
        } else {
            run(f);
        }
    });
}

std::size_t parallel_threshold(Unary op) noexcept {
    switch (op) {
        case Unary::Sqrt: return kParallelCheap;
        case Unary::Exp:
        case Unary::Ln: return vector_math() ? kParallelVector : kParallelLibm;
        default: return kParallelLibm;
    }
}

std::size_t parallel_threshold(Binary op) noexcept {
    switch (op) {
        case Binary::Pow: return kParallelLibm;
        case Binary::Tension: return vector_math() ? kParallelVector : kParallelLibm;
        default: return kParallelCheap;
    }
}

}  // namespace kiv::batch
