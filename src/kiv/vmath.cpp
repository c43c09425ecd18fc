// The choice of the exp and log path, its load-time check against the C library, and the library's own
// element-by-element loops.
#include "kiv/vmath.hpp"

#include <math.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "kiv/vmath_kernels.hpp"

namespace kiv::vmath {
namespace detail {
namespace {

std::uint64_t bits_of(double v) noexcept {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

double from_bits(std::uint64_t u) noexcept {
    double v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

// The library reached through pointers the compiler cannot see through: GCC folds exp and log of
// arguments it knows with correctly rounded results, which are not always the library's.
double (*volatile g_libm_exp)(double) = ::exp;
double (*volatile g_libm_log)(double) = ::log;

// Inputs on which the library's build with fused multiply-adds and its build without give different
// bits, and on which single fused sites of the FMA build matter (found by running both replicas over
// random inputs; the library agreed with the FMA replica on each). They lead the check, so that a replica
// of the wrong build is turned down after a few inputs.
constexpr std::uint64_t kExpTellers[] = {
    // the two builds differ
    0x4039a0b2c55a124c, 0xc00d5309eac4aaf0, 0xc022302f6a8db68c, 0x4032cdb62df3f734,
    0xc0400903bea2c804, 0x403d9b5fa14f6e00, 0xc02bcbc1e06cef22, 0xc023fe968bb23614,
    0xc01c96663ac5ac70, 0x4039df09e958f428, 0xc03d5930f33c02c2, 0x403c347759a531c4,
    0x4026e01c8e7c0da0, 0x403e46571d4bb4f0, 0xc01214d78996e3e0, 0x400f2be3a2158a40,
    // the two builds differ, subnormal results
    0xc08627f43bc403cb, 0xc08627d5bc1d8cd0, 0xc0862cc2a6fd2126, 0xc0862841b856775b,
    // the two builds differ, near overflow
    0x4082e9a71818cbe9, 0x4085d907d78d75ae, 0x40813ab27f5d1d0a, 0x4080381926eab30b,
    // kd = x 128/ln2 + shift rounded once or twice (x near a slot edge)
    0x407c96fc01b8165a, 0xc03dd4670977f43a, 0x40806c6f93d76bd3, 0x406a0caeb0819120,
    0xc074270d17b8a996, 0x405140e8391a6045, 0xc05fa4fc00b8894c, 0x407a08a7495640ad,
    // (tail + r) + r^2 (C2 + r C3) fused or not
    0x40236c27001734f8, 0xc02679c57a9de446, 0xc01ced5a4b2e5798, 0xc03cae3c42d04220,
    // scale + scale tmp fused or not
    0xc04001066408ff61, 0xbff59c5efb4b1c80, 0xc036d5350b685ddc, 0xc03d8f28874ede76,
    0x403a45350f10eeb8, 0x4031747d6af564da, 0xc03bc576c732be12, 0xc03b00c099e1c6e8,
    // the same where the result may overflow
    0x40849ee56d07a274, 0x408433b1c8ded813, 0x40851feeaa4d84b2, 0x4084a786cf7536fa,
};
constexpr std::uint64_t kLogTellers[] = {
    // the two builds differ
    0x402f93ddcf72ecc4, 0x4010ff0d1c32d594, 0x3fe953bdf08b523d, 0x3ff1d43768b8c069,
    0x3fecfb4912453112, 0x4011c1ab1ec0524e, 0x3ffd9b720edabc60, 0x3ff16d938b845f16,
    0x3ff8f68455bdc8a8, 0x3fe86b0a5804528c, 0x40015fbc59320aa7, 0x3fef85b4c35e3994,
    0x3ff329769a952e51, 0x4010c781188de1b3, 0x3ff3df6d784cfe95, 0x4018090f75268be7,
    // the two builds differ near 1
    0x3ff0fd59037ccc44, 0x3ff0f974f322deba, 0x3fee782235f08014, 0x3fee4e2ab09963e8,
    0x3fef33df5e540e13, 0x3ff0e80a393ccf83, 0x3fee1a27c8187fbb, 0x3ff1058ad70f6f14,
    // near 1, lo + r^3 q fused or not
    0x3ff056500955319a, 0x3fee8a5ad9034eb9, 0x3feead38b714d354, 0x3fef1618f6e1bb21,
    0x3ff0fa196d5bf43a, 0x3ff0cff1eaec42bd, 0x3ff0eb923f0cb860, 0x3ff0f6deda8a84ae,
    // near 1, the polynomial's Horner steps fused or not
    0x3ff0ef672cefcdb3, 0x3fee21b14a3dd274, 0x3ff0ef3be4386b78, 0x3fee3ed6e6f7fa16,
};

// A fixed stream of random draws (splitmix64), the same in every process.
struct Draws {
    std::uint64_t state = 0x6b69762d766d6174;  // any fixed seed
    std::uint64_t next() noexcept {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }
    double unit() noexcept { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
    double uniform(double lo, double hi) noexcept { return lo + (hi - lo) * unit(); }
};

// v and its neighbours up to `reach` steps of the last bit either way, where they are the same sign.
void with_neighbours(std::vector<double>& out, double v, int reach) {
    const std::uint64_t b = bits_of(v);
    for (int d = -reach; d <= reach; ++d) {
        const std::uint64_t u = b + static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
        if ((u >> 63) == (b >> 63)) out.push_back(from_bits(u));
    }
}

void add_specials(std::vector<double>& out) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.0, -0.0, inf, -inf, std::numeric_limits<double>::min(), -std::numeric_limits<double>::min(),
                     std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min()}) {
        out.push_back(v);
    }
    // NaNs: quiet and signalling, both signs, with payloads, which the library passes on.
    for (std::uint64_t u : {0x7ff8000000000000ULL, 0xfff8000000000000ULL, 0x7ff8000000000123ULL, 0xfffc0000deadbeefULL,
                            0x7ff0000000000001ULL, 0xfff4000000000abcULL, 0x7fffffffffffffffULL}) {
        out.push_back(from_bits(u));
    }
}

std::vector<double> exp_inputs() {
    std::vector<double> out;
    for (std::uint64_t u : kExpTellers) out.push_back(from_bits(u));
    add_specials(out);
    // Where the algorithm changes course (2^-54, 512, 1024), where the result overflows, reaches the
    // subnormal range, its smallest value and 0, the guards' thresholds, half a table slot: both signs.
    for (double v : {0x1p-54, 512.0, 1024.0, 0x1.62e42fefa39efp+9, 0x1.6232bdd7abcd2p+9, 0x1.74385446d71c3p+9,
                     0x1.74910d52d3051p+9, 709.78, 709.782712893384, 709.0, 0x1.62e42fefa39efp-9, 1.0}) {
        with_neighbours(out, v, 8);
        with_neighbours(out, -v, 8);
    }
    // Every table slot: k = 128 q + j for j = 0..127, at k ln2/128 and at the edge (k + 1/2) ln2/128 and
    // its neighbours, for small k and for k near the ends of the range.
    for (int q : {-1075, -1000, -4, -1, 0, 1, 3, 1000, 1023}) {
        for (int j = 0; j < 128; ++j) {
            const double k = 128.0 * q + j;
            out.push_back(k / 0x1.71547652b82fep7);
            with_neighbours(out, (k + 0.5) / 0x1.71547652b82fep7, 1);
        }
    }
    Draws d;
    for (int i = 0; i < 2048; ++i) out.push_back(d.uniform(-1.0, 1.0));
    for (int i = 0; i < 2048; ++i) out.push_back(d.uniform(-40.0, 40.0));
    for (int i = 0; i < 2048; ++i) out.push_back(d.uniform(-745.2, 709.8));
    for (int i = 0; i < 512; ++i) out.push_back(d.uniform(-745.2, -708.3));  // subnormal results
    for (int i = 0; i < 256; ++i) out.push_back(d.uniform(-709.0, -708.3));  // the same on the replica's side
    for (int i = 0; i < 256; ++i) out.push_back(d.uniform(-708.4, -512.0));
    for (int i = 0; i < 256; ++i) out.push_back(d.uniform(512.0, 709.8));
    for (int i = 0; i < 512; ++i) out.push_back(from_bits(d.next()));  // anything, NaNs and all
    // Tiny magnitudes down through the subnormals.
    for (int i = 0; i < 256; ++i) {
        const double m = std::ldexp(d.uniform(1.0, 2.0), -40 - static_cast<int>(d.next() % 1040));
        out.push_back(i % 2 ? -m : m);
    }
    return out;
}

std::vector<double> log_inputs() {
    std::vector<double> out;
    for (std::uint64_t u : kLogTellers) out.push_back(from_bits(u));
    add_specials(out);
    for (double v : {-1.0, -0.5, -1e-300, -3.0e-320}) out.push_back(v);
    // 1, the ends of the range near 1, the smallest normal, the largest finite value, the smallest
    // subnormal, the log floor, the edge of z's range, powers of two.
    for (double v : {1.0, 1.0 - 0x1p-4, 1.0 + 0x1.09p-4, 0x1p-1022, 0x1.fffffffffffffp1023, 0x1p-1074, 1e-300,
                     0x1.6p-1, 0x1.6p0, 2.0, 0.5, 0x1p-1000, 0x1p1000}) {
        with_neighbours(out, v, 8);
    }
    // Every table slot: the start of slot i of z (z from 0x1.6p-1), its neighbours and its middle, over
    // the exponents.
    for (int e : {-1021, -600, -1, 0, 1, 600, 1023}) {
        for (std::uint64_t i = 0; i < 128; ++i) {
            const std::uint64_t start = 0x3fe6000000000000ULL + (i << 45) + (static_cast<std::uint64_t>(e) << 52);
            for (std::uint64_t u : {start - 1, start, start + 1, start + (std::uint64_t{1} << 44)}) {
                const double v = from_bits(u);
                if (v > 0.0 && v < std::numeric_limits<double>::infinity()) out.push_back(v);
            }
        }
    }
    Draws d;
    d.state ^= 0x6c6f67;
    for (int i = 0; i < 2048; ++i) out.push_back(d.uniform(0.0, 4.0));
    for (int i = 0; i < 2048; ++i) out.push_back(d.uniform(1.0 - 0x1p-4, 1.0 + 0x1.09p-4));
    for (int i = 0; i < 256; ++i) out.push_back(1.0 + std::ldexp(d.uniform(-1.0, 1.0), -static_cast<int>(d.next() % 53)));
    // Positive normal numbers of any exponent.
    for (int i = 0; i < 2048; ++i) out.push_back(from_bits((d.next() >> 12) | ((1 + d.next() % 2046) << 52)));
    // Subnormals of every size.
    for (int i = 0; i < 256; ++i) out.push_back(from_bits((d.next() >> 12) >> (d.next() % 52)));
    for (int i = 0; i < 512; ++i) out.push_back(from_bits(d.next() >> 1));  // positive, NaNs and all
    for (int i = 0; i < 256; ++i) out.push_back(from_bits(d.next()));       // anything
    return out;
}

// The library's path: the element function itself, element by element.
void elementwise(const double* x, double* out, std::size_t n, Element f) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = f(x[i]);
}

void elementwise_log(const double* x, double* out, std::size_t n, Element f, LogDomain) noexcept {
    elementwise(x, out, n, f);
}

double plain_exp(double v) noexcept { return std::exp(v); }
double plain_log(double v) noexcept { return std::log(v); }

// The library's results on the check's inputs, computed once.
struct Expected {
    std::vector<double> exp;
    std::vector<double> log;
};

const Expected& expected() {
    static const Expected e = [] {
        const CheckInputs& in = check_inputs();
        Expected r;
        r.exp.reserve(in.exp.size());
        r.log.reserve(in.log.size());
        for (double v : in.exp) r.exp.push_back(g_libm_exp(v));
        for (double v : in.log) r.log.push_back(g_libm_log(v));
        return r;
    }();
    return e;
}

std::string describe(const char* fn, double x, double got, double want) {
    char text[256];
    std::snprintf(text, sizeof text, "%s(%a) gave %a (0x%016llx) where the C library gives %a (0x%016llx)", fn, x, got,
                  static_cast<unsigned long long>(bits_of(got)), want, static_cast<unsigned long long>(bits_of(want)));
    return text;
}

std::string first_difference(const char* fn, const std::vector<double>& in, const std::vector<double>& want,
                             const std::vector<double>& got) {
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (bits_of(got[i]) != bits_of(want[i])) return describe(fn, in[i], got[i], want[i]);
    }
    return {};
}

bool has_avx512_fma() noexcept { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma"); }
bool has_avx2_fma() noexcept { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
bool always() noexcept { return true; }

struct Candidate {
    std::string_view name;
    bool (*usable)() noexcept;
    const char* needs;
    ExpFn exp;
    LogFn log;
    // The same with one fused multiply-add left out, for the test hook; null for the build without.
    ExpFn exp_flipped;
    LogFn log_flipped;
};

// Fastest first. The AVX2 replica of the build without FMA is compiled alongside the FMA one, so it asks
// for the same CPU.
constexpr Candidate kCandidates[] = {
    {"avx512-fma", has_avx512_fma, "AVX-512F and FMA", exp_avx512_fma, log_avx512_fma, exp_avx512_fma_flipped,
     log_avx512_fma_flipped},
    {"avx2-fma", has_avx2_fma, "AVX2 and FMA", exp_avx2_fma, log_avx2_fma, exp_avx2_fma_flipped, log_avx2_fma_flipped},
    {"avx2", has_avx2_fma, "AVX2 and FMA", exp_avx2, log_avx2, nullptr, nullptr},
    {"sse2", always, "SSE2", exp_sse2, log_sse2, nullptr, nullptr},
};

struct Chosen {
    ExpFn exp;
    LogFn log;
    PathReport report;
};

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void note(std::string& reasons, std::string_view name, const std::string& why) {
    if (!reasons.empty()) reasons += "; ";
    reasons += name;
    reasons += ": ";
    reasons += why;
}

Chosen choose() {
    const auto start = std::chrono::steady_clock::now();
    auto done = [&](ExpFn e, LogFn l, std::string_view name, std::string reason, std::size_t inputs) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return Chosen{e, l, PathReport{std::string(name), std::move(reason), inputs, took.count()}};
    };
    const std::string want = env("KIV_MATH");
    if (want == "libm") return done(elementwise, elementwise_log, "libm", "", 0);
    bool named = want.empty() || want == "auto";
    for (const Candidate& c : kCandidates) named = named || want == c.name;
    if (!named) {
        return done(elementwise, elementwise_log, "libm",
                    "KIV_MATH=" + want + " names no path (auto, libm, avx512-fma, avx2-fma, avx2, sse2)", 0);
    }
    // The test hook: one fused multiply-add left out of the FMA replicas, which the check must catch.
    const std::string flip = env("KIV_MATH_TEST_FLIP");
    std::string reasons;
    std::size_t inputs = 0;
    for (const Candidate& c : kCandidates) {
        if (!want.empty() && want != "auto" && want != c.name) continue;
        if (!c.usable()) {
            if (want == c.name) note(reasons, c.name, std::string("this CPU lacks ") + c.needs);
            continue;
        }
        const ExpFn e = flip == "exp" && c.exp_flipped ? c.exp_flipped : c.exp;
        const LogFn l = flip == "log" && c.log_flipped ? c.log_flipped : c.log;
        inputs = check_inputs().exp.size() + check_inputs().log.size();
        const std::string why = disagreement(e, l);
        if (why.empty()) return done(e, l, c.name, std::move(reasons), inputs);
        note(reasons, c.name, why);
    }
    return done(elementwise, elementwise_log, "libm", std::move(reasons), inputs);
}

const Chosen& chosen() {
    static const Chosen c = choose();
    return c;
}

}  // namespace

const CheckInputs& check_inputs() {
    static const CheckInputs in{exp_inputs(), log_inputs()};
    return in;
}

std::string disagreement(ExpFn exp, LogFn log) {
    const CheckInputs& in = check_inputs();
    const Expected& want = expected();
    std::vector<double> got(in.exp.size());
    exp(in.exp.data(), got.data(), in.exp.size(), plain_exp);
    std::string why = first_difference("exp", in.exp, want.exp, got);
    if (!why.empty()) return why;
    got.resize(in.log.size());
    log(in.log.data(), got.data(), in.log.size(), plain_log, LogDomain{});
    return first_difference("log", in.log, want.log, got);
}

}  // namespace detail

void exp(const double* x, double* out, std::size_t n, Element f) noexcept { detail::chosen().exp(x, out, n, f); }

void log(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept {
    detail::chosen().log(x, out, n, f, d);
}

void exp(const double* x, double* out, std::size_t n) noexcept { exp(x, out, n, detail::plain_exp); }

void log(const double* x, double* out, std::size_t n) noexcept { log(x, out, n, detail::plain_log, LogDomain{}); }

const PathReport& path() { return detail::chosen().report; }

}  // namespace kiv::vmath
