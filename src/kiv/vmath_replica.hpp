// The C library's exp and log written once over a lane type: its operations in its order, fused where its
// build fuses. Each kernel file includes this under its own target and supplies the lane type.
//
// The library (GNU C library 2.28 and later, x86-64) computes exp as 2^(k/128) exp(r), with a table of
// 2^(j/128) and a degree-5 polynomial, and log as k ln2 + ln c + log1p(z/c - 1), with a table of 1/c and
// ln c and a degree-6 polynomial, and a degree-12 polynomial near 1. Its loader picks one of two builds:
// on a CPU with FMA and AVX2 one compiled with -mfma, where GCC contracts each a * b + c whose product has
// no other use in the same basic block into one fused multiply-add; elsewhere one without. The results
// differ in the last bit on a small share of inputs, so a replica carries the set of fused sites as a
// template argument (a bit per site, below) and is only used once the load-time check has compared it
// with the library on this machine.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kiv/vmath_kernels.hpp"

namespace kiv::vmath::detail {
// Internal linkage throughout: every kernel file compiles this for its own instruction set, and a copy
// built for AVX2 must never be the one an SSE2 kernel calls.
namespace {

// The sites where the library's FMA build fuses a * b + c.
namespace site {
// exp
inline constexpr std::uint32_t kExpShift = 1u << 0;  // kd = x * 128/ln2 + shift
inline constexpr std::uint32_t kExpHi = 1u << 1;     // x + kd * (-ln2/128)hi (an exact product)
inline constexpr std::uint32_t kExpLo = 1u << 2;     // ... + kd * (-ln2/128)lo
inline constexpr std::uint32_t kExpC23 = 1u << 3;    // C2 + r * C3
inline constexpr std::uint32_t kExpC45 = 1u << 4;    // C4 + r * C5
inline constexpr std::uint32_t kExpP23 = 1u << 5;    // (tail + r) + r^2 (C2 + r C3)
inline constexpr std::uint32_t kExpP45 = 1u << 6;    // ... + r^4 (C4 + r C5)
inline constexpr std::uint32_t kExpScale = 1u << 7;  // scale + scale * tmp
inline constexpr std::uint32_t kExpOver = 1u << 8;   // the same where the result may overflow
// log away from 1
inline constexpr std::uint32_t kLogR = 1u << 9;     // r = z/c - 1 as fma(z, 1/c, -1) (else from c = chi + clo)
inline constexpr std::uint32_t kLogW = 1u << 10;    // k ln2hi + ln c
inline constexpr std::uint32_t kLogLo = 1u << 11;   // (w - hi + r) + k ln2lo
inline constexpr std::uint32_t kLogA0 = 1u << 12;   // lo + r^2 A0
inline constexpr std::uint32_t kLogA12 = 1u << 13;  // A1 + r A2
inline constexpr std::uint32_t kLogA34 = 1u << 14;  // A3 + r A4
inline constexpr std::uint32_t kLogQ = 1u << 15;    // (A1 + r A2) + r^2 (A3 + r A4)
inline constexpr std::uint32_t kLogY = 1u << 16;    // (lo + r^2 A0) + r^3 q
// log near 1
inline constexpr std::uint32_t kNearPoly = 1u << 17;   // every Horner step of the degree-12 polynomial
inline constexpr std::uint32_t kNearSplit = 1u << 18;  // r + r 2^27 and its difference (exact products)
inline constexpr std::uint32_t kNearHiLo = 1u << 19;   // r + rhi^2 B0 and (r - hi) + rhi^2 B0 (exact)
inline constexpr std::uint32_t kNearTail = 1u << 20;   // lo + (B0 rlo)(rhi + r)
inline constexpr std::uint32_t kNearY = 1u << 21;      // lo + r^3 q, the polynomial's sum

inline constexpr std::uint32_t kExpAll = (1u << 9) - 1;
inline constexpr std::uint32_t kLogAll = ((1u << 22) - 1) & ~kExpAll;
}  // namespace site

// The FMA build fuses every site; the other build none.
inline constexpr std::uint32_t kFmaBuild = site::kExpAll | site::kLogAll;
inline constexpr std::uint32_t kPlainBuild = 0;

template <std::uint32_t F, std::uint32_t Site>
inline constexpr bool fuses = (F & Site) != 0;

// exp: N/ln2, ln2/N in two parts, the rounding shift and the polynomial, N = 128.
inline constexpr double kInvLn2N = 0x1.71547652b82fep0 * 128;
inline constexpr double kNegLn2HiN = -0x1.62e42fefa0000p-8;
inline constexpr double kNegLn2LoN = -0x1.cf79abc9e3b3ap-47;
inline constexpr double kShift = 0x1.8p52;
inline constexpr double kC2 = 0x1.ffffffffffdbdp-2;
inline constexpr double kC3 = 0x1.555555555543cp-3;
inline constexpr double kC4 = 0x1.55555cf172b91p-5;
inline constexpr double kC5 = 0x1.1111167a4d017p-7;

// log: ln2 in two parts, the polynomial away from 1 (A) and near 1 (B), the offset of z's range.
inline constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;
inline constexpr double kLn2Lo = 0x1.ef35793c76730p-45;
inline constexpr double kA[5] = {-0x1.0000000000001p-1, 0x1.555555551305bp-2, -0x1.fffffffeb459p-3,
                                 0x1.999b324f10111p-3, -0x1.55575e506c89fp-3};
inline constexpr double kB[11] = {-0x1p-1,
                                  0x1.5555555555577p-2,
                                  -0x1.ffffffffffdcbp-3,
                                  0x1.999999995dd0cp-3,
                                  -0x1.55555556745a7p-3,
                                  0x1.24924a344de3p-3,
                                  -0x1.fffffa4423d65p-4,
                                  0x1.c7184282ad6cap-4,
                                  -0x1.999eb43b068ffp-4,
                                  0x1.78182f7afd085p-4,
                                  -0x1.5521375d145cdp-4};
inline constexpr std::uint64_t kLogOff = 0x3fe6000000000000;
// Inputs in [1 - 2^-4, 1 + 0x1.09p-4) take the polynomial near 1.
inline constexpr double kNear1Lo = 1.0 - 0x1p-4;
inline constexpr double kNear1Hi = 1.0 + 0x1.09p-4;

// One lane: plain doubles. The lanes that vectors leave over, and the rare inputs, go through this.
struct Scalar {
    using D = double;
    using I = std::uint64_t;
    using M = bool;
    static D dup(double v) { return v; }
    static I dupi(std::uint64_t v) { return v; }
    static D add(D a, D b) { return a + b; }
    static D sub(D a, D b) { return a - b; }
    static D mul(D a, D b) { return a * b; }
    static D fma(D a, D b, D c) { return __builtin_fma(a, b, c); }
    static D fnma(D a, D b, D c) { return __builtin_fma(-a, b, c); }
    static I bits(D v) {
        I u;
        std::memcpy(&u, &v, sizeof u);
        return u;
    }
    static D real(I u) {
        D v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    }
    static I iadd(I a, I b) { return a + b; }
    static I isub(I a, I b) { return a - b; }
    static I iand(I a, I b) { return a & b; }
    static I shr(I a, int k) { return a >> k; }
    static I shl(I a, int k) { return a << k; }
    // Entries slot and slot + 1 of a table, as doubles (bit patterns for a table of integers).
    struct Pair {
        D first;
        D second;
    };
    static Pair pair(const void* t, I slot) {
        Pair p;
        std::memcpy(&p.first, static_cast<const double*>(t) + slot, sizeof(double));
        std::memcpy(&p.second, static_cast<const double*>(t) + slot + 1, sizeof(double));
        return p;
    }
    // (double) of tmp >> 52, the shift arithmetic.
    static D top_to_double(I tmp) { return static_cast<double>(static_cast<std::int64_t>(tmp) >> 52); }
};

// a * b + c: one rounding where the build fuses, else two.
template <class S, bool Fused>
typename S::D madd(typename S::D a, typename S::D b, typename S::D c) {
    if constexpr (Fused) {
        return S::fma(a, b, c);
    } else {
        return S::add(S::mul(a, b), c);
    }
}

// c - a * b, the same way.
template <class S, bool Fused>
typename S::D msub(typename S::D a, typename S::D b, typename S::D c) {
    if constexpr (Fused) {
        return S::fnma(a, b, c);
    } else {
        return S::sub(c, S::mul(a, b));
    }
}

// exp(x) = 2^(k/N) exp(r), x = k ln2/N + r: everything up to scale (1 + tmp), where scale has the bits
// sbits (its exponent may have wrapped for |x| >= 512) and ki holds k in its low bits.
template <class S>
struct ExpCore {
    typename S::D tmp;
    typename S::I sbits;
    typename S::I ki;
};

template <class S, std::uint32_t F>
ExpCore<S> exp_core(typename S::D x) {
    using D = typename S::D;
    using I = typename S::I;
    // kd is x N/ln2 rounded to an integer by adding and taking away 1.5 2^52; ki keeps its bits.
    D kd = madd<S, fuses<F, site::kExpShift>>(S::dup(kInvLn2N), x, S::dup(kShift));
    const I ki = S::bits(kd);
    kd = S::sub(kd, S::dup(kShift));
    D r = madd<S, fuses<F, site::kExpHi>>(kd, S::dup(kNegLn2HiN), x);
    r = madd<S, fuses<F, site::kExpLo>>(kd, S::dup(kNegLn2LoN), r);
    const typename S::Pair t = S::pair(kExpTable, S::shl(S::iand(ki, S::dupi(127)), 1));
    const D tail = t.first;
    const I sbits = S::iadd(S::bits(t.second), S::shl(ki, 45));
    const D r2 = S::mul(r, r);
    const D p23 = madd<S, fuses<F, site::kExpC23>>(r, S::dup(kC3), S::dup(kC2));
    const D p45 = madd<S, fuses<F, site::kExpC45>>(r, S::dup(kC5), S::dup(kC4));
    const D s = madd<S, fuses<F, site::kExpP23>>(r2, p23, S::add(tail, r));
    const D tmp = madd<S, fuses<F, site::kExpP45>>(S::mul(r2, r2), p45, s);
    return {tmp, sbits, ki};
}

template <class S, std::uint32_t F>
typename S::D exp_result(const ExpCore<S>& c) {
    const typename S::D scale = S::real(c.sbits);
    return madd<S, fuses<F, site::kExpScale>>(scale, c.tmp, scale);
}

// 512 <= |x| < 1024: scale (1 + tmp) may overflow or fall into the subnormal range.
template <std::uint32_t F>
double exp_edge(const ExpCore<Scalar>& c) noexcept {
    if ((c.ki & 0x80000000) == 0) {
        // k > 0: the scale's exponent may have wrapped; take 2^1009 out and put it back at the end.
        const double scale = Scalar::real(c.sbits - (1009ULL << 52));
        return 0x1p1009 * madd<Scalar, fuses<F, site::kExpOver>>(scale, c.tmp, scale);
    }
    // k < 0: a subnormal result is rounded once, to its own precision. The product has uses in two
    // different basic blocks, so the FMA build leaves it unfused too.
    const double scale = Scalar::real(c.sbits + (1022ULL << 52));
    const double p = scale * c.tmp;
    double y = scale + p;
    if (y < 1.0) {
        double lo = (scale - y) + p;
        const double hi = 1.0 + y;
        lo = ((1.0 - hi) + y) + lo;
        y = (hi + lo) - 1.0;
        if (y == 0.0) y = 0.0;  // +0, never -0
    }
    return 0x1p-1022 * y;
}

// exp(x) for |x| < 1024.
template <std::uint32_t F>
double exp_one(double x) noexcept {
    const auto abstop = static_cast<std::uint32_t>(Scalar::bits(x) >> 52) & 0x7ff;
    // 0x3c9 is the top of 2^-54 and 0x408 that of 512.
    if (abstop < 0x3c9) return 1.0 + x;
    if (abstop >= 0x408) return exp_edge<F>(exp_core<Scalar, F>(x));
    return exp_result<Scalar, F>(exp_core<Scalar, F>(x));
}

// ln x for x = 2^k z, z in [0x1.6p-1, 0x1.6p0), given the bits ix of a positive normal x.
template <class S, std::uint32_t F>
typename S::D log_core(typename S::I ix) {
    using D = typename S::D;
    using I = typename S::I;
    const I tmp = S::isub(ix, S::dupi(kLogOff));
    const I slot = S::shl(S::iand(S::shr(tmp, 45), S::dupi(127)), 1);
    const D kd = S::top_to_double(tmp);
    const D z = S::real(S::isub(ix, S::iand(tmp, S::dupi(0xfffULL << 52))));
    const typename S::Pair c = S::pair(kLogTable, slot);
    const D invc = c.first;
    const D logc = c.second;
    D r;
    if constexpr (fuses<F, site::kLogR>) {
        r = S::fma(z, invc, S::dup(-1.0));
    } else {
        const typename S::Pair c2 = S::pair(kLogTable2, slot);  // c = chi + clo
        r = S::mul(S::sub(S::sub(z, c2.first), c2.second), invc);
    }
    // hi + lo = r + ln c + k ln2
    const D w = madd<S, fuses<F, site::kLogW>>(kd, S::dup(kLn2Hi), logc);
    const D hi = S::add(w, r);
    const D lo = madd<S, fuses<F, site::kLogLo>>(kd, S::dup(kLn2Lo), S::add(S::sub(w, hi), r));
    const D r2 = S::mul(r, r);
    const D q = madd<S, fuses<F, site::kLogQ>>(r2, madd<S, fuses<F, site::kLogA34>>(r, S::dup(kA[4]), S::dup(kA[3])),
                                               madd<S, fuses<F, site::kLogA12>>(r, S::dup(kA[2]), S::dup(kA[1])));
    const D y = madd<S, fuses<F, site::kLogY>>(S::mul(r, r2), q,
                                               madd<S, fuses<F, site::kLogA0>>(r2, S::dup(kA[0]), lo));
    return S::add(y, hi);
}

// ln x for x in [kNear1Lo, kNear1Hi), x != 1.
template <class S, std::uint32_t F>
typename S::D log_near1(typename S::D x) {
    using D = typename S::D;
    constexpr bool P = fuses<F, site::kNearPoly>;
    const D r = S::sub(x, S::dup(1.0));
    const D r2 = S::mul(r, r);
    const D r3 = S::mul(r, r2);
    const D q3 = madd<S, P>(r3, S::dup(kB[10]), madd<S, P>(r2, S::dup(kB[9]), madd<S, P>(r, S::dup(kB[8]), S::dup(kB[7]))));
    const D q2 = madd<S, P>(r3, q3, madd<S, P>(r2, S::dup(kB[6]), madd<S, P>(r, S::dup(kB[5]), S::dup(kB[4]))));
    const D q1 = madd<S, P>(r3, q2, madd<S, P>(r2, S::dup(kB[3]), madd<S, P>(r, S::dup(kB[2]), S::dup(kB[1]))));
    // r = rhi + rlo with rhi of 26 bits, so that rhi^2 B0 is exact.
    constexpr bool X = fuses<F, site::kNearSplit>;
    const D rhi = msub<S, X>(r, S::dup(0x1p27), madd<S, X>(r, S::dup(0x1p27), r));
    const D rlo = S::sub(r, rhi);
    constexpr bool H = fuses<F, site::kNearHiLo>;
    const D w = S::mul(rhi, rhi);
    const D hi = madd<S, H>(w, S::dup(kB[0]), r);
    D lo = madd<S, H>(w, S::dup(kB[0]), S::sub(r, hi));
    lo = madd<S, fuses<F, site::kNearTail>>(S::mul(S::dup(kB[0]), rlo), S::add(rhi, r), lo);
    const D y = madd<S, fuses<F, site::kNearY>>(r3, q1, lo);
    return S::add(y, hi);
}

// ln x for a positive finite x.
template <std::uint32_t F>
double log_one(double x) noexcept {
    std::uint64_t ix = Scalar::bits(x);
    const std::uint64_t lo = Scalar::bits(kNear1Lo), hi = Scalar::bits(kNear1Hi);
    if (ix - lo < hi - lo) {
        if (x == 1.0) return 0.0;
        return log_near1<Scalar, F>(x);
    }
    // A subnormal is scaled into the normal range (exactly), the scale taken off the exponent.
    if (ix < 0x0010000000000000) ix = Scalar::bits(x * 0x1p52) - (52ULL << 52);
    return log_core<Scalar, F>(ix);
}

// A lane of a vector that left the vector path. exp: the replica up to 709, where every exp-like element
// function is exp (the edge of the range included), the element function beyond. log: the replica on the
// domain where the element function is log (subnormals and the range near 1 included), the element
// function elsewhere.
template <std::uint32_t F>
double exp_lane(double x, Element f) noexcept {
    return std::fabs(x) < 709.0 ? exp_one<F>(x) : f(x);
}

template <std::uint32_t F>
double log_lane(double x, Element f, LogDomain d) noexcept {
    const double a = d.fold && x <= 0.0 ? -x : x;
    return a >= d.lower && a <= 0x1.fffffffffffffp1023 ? log_one<F>(a) : f(x);
}

// One vector of the array kernels, inlined into the array loop so that its constants stay in registers. A
// vector whose lanes all lie in the common range takes the vector path
// (exp: |x| < 512, with 1 + x below 2^-54; log: normal arguments in the domain, the polynomial near 1
// blended in); another goes lane by lane.
template <class S, std::uint32_t F>
[[gnu::always_inline]] inline void exp_vector(const double* x, double* out, Element f) noexcept {
    using D = typename S::D;
    const D v = S::load(x);
    const D a = S::abs(v);
    if (!S::all(S::lt(a, S::dup(512.0)))) {
        for (std::size_t k = 0; k < S::kLanes; ++k) out[k] = exp_lane<F>(x[k], f);
        return;
    }
    const D y = exp_result<S, F>(exp_core<S, F>(v));
    S::store(out, S::select(S::lt(a, S::dup(0x1p-54)), S::add(S::dup(1.0), v), y));
}

template <class S, std::uint32_t F>
[[gnu::always_inline]] inline void log_vector(const double* x, double* out, Element f, LogDomain d) noexcept {
    using D = typename S::D;
    D v = S::load(x);
    // 0 - v is |v| for v <= 0, and a NaN keeps its sign.
    if (d.fold) v = S::select(S::le(v, S::dup(0.0)), S::sub(S::dup(0.0), v), v);
    // Subnormal arguments take the lane path, which scales them.
    const double lower = d.lower > 0x1p-1022 ? d.lower : 0x1p-1022;
    if (!S::all(S::both(S::ge(v, S::dup(lower)), S::le(v, S::dup(0x1.fffffffffffffp1023))))) {
        for (std::size_t k = 0; k < S::kLanes; ++k) out[k] = log_lane<F>(x[k], f, d);
        return;
    }
    D y = log_core<S, F>(S::bits(v));
    const auto near = S::both(S::ge(v, S::dup(kNear1Lo)), S::lt(v, S::dup(kNear1Hi)));
    if (S::any(near)) {
        const D one = S::dup(1.0);
        y = S::select(near, S::select(S::eq(v, one), S::dup(0.0), log_near1<S, F>(v)), y);
    }
    S::store(out, y);
}

// The array kernels: whole vectors, then the last lanes in a vector filled up with `pad` (a value of the
// common range).
template <class S, class Vector>
void over_array(const double* x, double* out, std::size_t n, double pad, Vector vector) noexcept {
    std::size_t i = 0;
    for (; i + S::kLanes <= n; i += S::kLanes) vector(x + i, out + i);
    if (i == n) return;
    double t[S::kLanes];
    for (std::size_t k = 0; k < S::kLanes; ++k) t[k] = i + k < n ? x[i + k] : pad;
    vector(t, t);
    for (std::size_t k = 0; i + k < n; ++k) out[i + k] = t[k];
}

template <class S, std::uint32_t F>
void exp_array(const double* x, double* out, std::size_t n, Element f) noexcept {
    over_array<S>(x, out, n, 0.0, [f](const double* a, double* o) { exp_vector<S, F>(a, o, f); });
}

template <class S, std::uint32_t F>
void log_array(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept {
    over_array<S>(x, out, n, 2.0, [f, d](const double* a, double* o) { log_vector<S, F>(a, o, f, d); });
}

}  // namespace
}  // namespace kiv::vmath::detail
