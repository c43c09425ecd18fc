// exp and log over arrays: the replicas against the C library, the load-time check that chooses among
// them, and the array forms of the guarded primitives against the scalar ones.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kiv/primitives.hpp"
#include "kiv/primitives_n.hpp"
#include "kiv/vmath.hpp"
#include "kiv/vmath_kernels.hpp"

namespace {

using kiv::vmath::detail::ExpFn;
using kiv::vmath::detail::LogFn;
using kiv::vmath::LogDomain;
using kiv::vmath::detail::Element;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The library behind pointers the compiler cannot see through (it folds exp and log of known arguments
// with correctly rounded results, which are not always the library's).
double (*volatile g_exp)(double) = ::exp;
double (*volatile g_log)(double) = ::log;

double plain_exp(double v) noexcept { return std::exp(v); }
double plain_log(double v) noexcept { return std::log(v); }

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }
double from_bits(std::uint64_t u) { return std::bit_cast<double>(u); }

struct Replica {
    std::string name;
    bool fused;  // of the library's build with fused multiply-adds
    ExpFn exp;
    LogFn log;
};

// The replicas this CPU can run.
std::vector<Replica> replicas() {
    using namespace kiv::vmath::detail;
    std::vector<Replica> r;
    const bool fma = __builtin_cpu_supports("fma");
    if (__builtin_cpu_supports("avx512f") && fma) r.push_back({"avx512-fma", true, exp_avx512_fma, log_avx512_fma});
    if (__builtin_cpu_supports("avx2") && fma) {
        r.push_back({"avx2-fma", true, exp_avx2_fma, log_avx2_fma});
        r.push_back({"avx2", false, exp_avx2, log_avx2});
    }
    r.push_back({"sse2", false, exp_sse2, log_sse2});
    return r;
}

// Those that agree with the library on the check's inputs, which are those of the build it runs.
std::vector<Replica> agreeing() {
    std::vector<Replica> r;
    for (const Replica& c : replicas()) {
        if (kiv::vmath::detail::disagreement(c.exp, c.log).empty()) r.push_back(c);
    }
    return r;
}

// Inputs for exp: random draws over the whole range and the common one, random bit patterns, and runs of
// consecutive doubles at the boundaries of the algorithm and of the range.
std::vector<double> exp_inputs(std::size_t n) {
    std::mt19937_64 g(11);
    std::vector<double> v;
    for (std::size_t i = 0; i < n; ++i) {
        switch (i % 4) {
            case 0: v.push_back(std::uniform_real_distribution<double>(-30.0, 30.0)(g)); break;
            case 1: v.push_back(std::uniform_real_distribution<double>(-745.2, 709.8)(g)); break;
            case 2: v.push_back(from_bits(g())); break;
            default: v.push_back(std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(g), -static_cast<int>(g() % 1080))); break;
        }
    }
    for (double c : {0x1p-54, 512.0, 709.0, 709.78, 709.782712893384, 708.3964185322641, 745.1332191019412, 1024.0}) {
        for (double s : {1.0, -1.0}) {
            for (int d = -300; d <= 300; ++d) v.push_back(from_bits(bits(s * c) + static_cast<std::uint64_t>(d)));
        }
    }
    return v;
}

std::vector<double> log_inputs(std::size_t n) {
    std::mt19937_64 g(12);
    std::vector<double> v;
    for (std::size_t i = 0; i < n; ++i) {
        switch (i % 4) {
            case 0: v.push_back(std::uniform_real_distribution<double>(0.0, 8.0)(g)); break;
            case 1: v.push_back(std::uniform_real_distribution<double>(0.9375, 1.0647)(g)); break;
            case 2: v.push_back(from_bits(g() >> 1)); break;
            default: v.push_back(from_bits(g())); break;
        }
    }
    for (double c : {1.0, 0.9375, 0x1.109p0, 0x1p-1022, 0x1.6p-1, 2.0}) {
        for (int d = -300; d <= 300; ++d) v.push_back(from_bits(bits(c) + static_cast<std::uint64_t>(d)));
    }
    return v;
}

template <class Array, class One>
void expect_same_bits(const std::vector<double>& in, Array array, One one, const std::string& what) {
    std::vector<double> out(in.size());
    array(in.data(), out.data(), in.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double want = one(in[i]);
        if (bits(out[i]) != bits(want) && differ++ < 3) {
            ADD_FAILURE() << what << "(" << std::hexfloat << in[i] << ") = " << out[i] << ", want " << want;
        }
    }
    EXPECT_EQ(differ, 0u) << what;
}

TEST(VectorMath, ThePathInUseGivesTheLibrarysBits) {
    const std::string name = kiv::vmath::path().name;
    EXPECT_TRUE(name == "avx512-fma" || name == "avx2-fma" || name == "avx2" || name == "sse2" || name == "libm");
    expect_same_bits(exp_inputs(200'000), [](const double* x, double* o, std::size_t n) { kiv::vmath::exp(x, o, n); },
                     [](double v) { return g_exp(v); }, "exp");
    expect_same_bits(log_inputs(200'000), [](const double* x, double* o, std::size_t n) { kiv::vmath::log(x, o, n); },
                     [](double v) { return g_log(v); }, "log");
}

// The library runs one of its two builds, so exactly the replicas of that build pass the check, and the
// process takes the fastest of them unless told otherwise.
TEST(VectorMath, ExactlyTheReplicasOfTheLibrarysBuildPassTheCheck) {
    const std::vector<Replica> all = replicas(), pass = agreeing();
    ASSERT_FALSE(pass.empty());
    const bool fused = pass.front().fused;
    for (const Replica& r : all) {
        const bool passed = std::any_of(pass.begin(), pass.end(), [&](const Replica& p) { return p.name == r.name; });
        EXPECT_EQ(passed, r.fused == fused) << r.name;
    }
    const char* env = std::getenv("KIV_MATH");
    if (env == nullptr || std::string(env) == "auto") {
        EXPECT_EQ(kiv::vmath::path().name, pass.front().name);
        // Faster replicas turned down are named, with the first input they got wrong.
        EXPECT_EQ(kiv::vmath::path().reason.empty(), pass.front().name == all.front().name);
        if (!kiv::vmath::path().reason.empty()) {
            EXPECT_NE(kiv::vmath::path().reason.find(all.front().name + ": "), std::string::npos);
        }
        EXPECT_GT(kiv::vmath::path().inputs, 20'000u);
    }
}

// The check's inputs tell the two builds apart many times over, and a replica with one fused multiply-add
// of the library's build left out is turned down.
TEST(VectorMath, TheCheckCatchesTheOtherBuildAndOneUnfusedMultiplyAdd) {
    using namespace kiv::vmath::detail;
    if (!(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))) GTEST_SKIP() << "no AVX2 and FMA";
    const CheckInputs& in = check_inputs();
    auto differing = [](const std::vector<double>& x, auto a, auto b, auto... domain) {
        std::vector<double> p(x.size()), q(x.size());
        const Element f = sizeof...(domain) ? plain_log : plain_exp;
        a(x.data(), p.data(), x.size(), f, domain...);
        b(x.data(), q.data(), x.size(), f, domain...);
        std::size_t n = 0;
        for (std::size_t i = 0; i < x.size(); ++i) n += bits(p[i]) != bits(q[i]);
        return n;
    };
    EXPECT_GE(differing(in.exp, exp_avx2_fma, exp_avx2), 40u);
    EXPECT_GE(differing(in.log, log_avx2_fma, log_avx2, LogDomain{}), 30u);
    EXPECT_GE(differing(in.exp, exp_avx2_fma, exp_avx2_fma_flipped), 8u);
    EXPECT_GE(differing(in.log, log_avx2_fma, log_avx2_fma_flipped, LogDomain{}), 8u);
    if (!disagreement(exp_avx2_fma, log_avx2_fma).empty()) GTEST_SKIP() << "the library runs its build without FMA";
    EXPECT_NE(disagreement(exp_avx2_fma_flipped, log_avx2_fma), "");
    EXPECT_NE(disagreement(exp_avx2_fma, log_avx2_fma_flipped), "");
    if (__builtin_cpu_supports("avx512f")) {
        EXPECT_NE(disagreement(exp_avx512_fma_flipped, log_avx512_fma), "");
        EXPECT_NE(disagreement(exp_avx512_fma, log_avx512_fma_flipped), "");
    }
}

// Every length (whole vectors and the lanes left over) and alignment, in place or not.
TEST(VectorMath, EveryLengthAndOffsetInPlaceOrNot) {
    const std::vector<double> xe = exp_inputs(64), xl = log_inputs(64);
    for (const Replica& r : agreeing()) {
        for (std::size_t off = 0; off < 3; ++off) {
            for (std::size_t n = 0; n + off <= 40; ++n) {
                std::vector<double> e(xe.begin(), xe.begin() + 48), l(xl.begin(), xl.begin() + 48), o(48, 7.0);
                r.exp(e.data() + off, o.data() + off, n, plain_exp);
                r.log(l.data() + off, l.data() + off, n, plain_log, LogDomain{});
                for (std::size_t i = 0; i < 48; ++i) {
                    const bool in = i >= off && i < off + n;
                    ASSERT_EQ(bits(o[i]), bits(in ? g_exp(xe[i]) : 7.0)) << r.name << " n=" << n << " i=" << i;
                    ASSERT_EQ(bits(l[i]), bits(in ? g_log(xl[i]) : xl[i])) << r.name << " n=" << n << " i=" << i;
                }
            }
        }
    }
}

// The element function is called exactly for the elements outside the domain where it must be exp or log
// (exp: |x| >= 709, infinities and NaNs; log: where the argument, x or |x| for a folded x <= 0, is not in
// [lower, DBL_MAX]), and its results are kept there; elsewhere the result is exp or log of the argument.
int g_calls = 0;
double marker(double) noexcept {
    ++g_calls;
    return -42.0;
}

template <class Call, class Argument>
void expect_marker_outside(const std::vector<double>& x, Call call, Argument argument, double (*lib)(double)) {
    std::vector<double> o(x.size());
    g_calls = 0;
    call(x.data(), o.data(), x.size());
    int outside = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto a = argument(x[i]);
        outside += !a;
        ASSERT_EQ(bits(o[i]), bits(a ? lib(*a) : -42.0)) << std::hexfloat << x[i];
    }
    EXPECT_EQ(g_calls, outside);
}

TEST(VectorMath, TheElementFunctionDecidesOutsideItsDomainOnly) {
    std::vector<double> xe = exp_inputs(5'000), xl = log_inputs(5'000);
    for (double v : log_inputs(2'000)) xl.push_back(-v);
    for (double v : {1e-300, 0x1.0000000000001p-997, 1e-301, 3e-300}) {
        xl.push_back(v);
        xl.push_back(-v);
    }
    std::vector<Replica> reps = agreeing();
    reps.push_back({"chosen", false, [](const double* x, double* o, std::size_t n, Element f) noexcept { kiv::vmath::exp(x, o, n, f); },
                    [](const double* x, double* o, std::size_t n, Element f, LogDomain d) noexcept { kiv::vmath::log(x, o, n, f, d); }});
    for (const Replica& r : reps) {
        SCOPED_TRACE(r.name);
        expect_marker_outside(
            xe, [&](const double* x, double* o, std::size_t n) { r.exp(x, o, n, marker); },
            [](double v) { return std::fabs(v) < 709.0 ? std::optional(v) : std::nullopt; }, ::exp);
        for (LogDomain d : {LogDomain{}, LogDomain{.fold = true}, LogDomain{.fold = true, .lower = 1e-300}}) {
            SCOPED_TRACE(d.fold);
            SCOPED_TRACE(d.lower);
            expect_marker_outside(
                xl, [&](const double* x, double* o, std::size_t n) { r.log(x, o, n, marker, d); },
                [d](double v) {
                    const double a = d.fold && v <= 0.0 ? -v : v;
                    return a >= d.lower && a < kInf ? std::optional(a) : std::nullopt;
                },
                ::log);
        }
    }
}

// The array forms of the guarded primitives are the scalar primitives, element for element and bit for
// bit, guards, NaN payloads and all, in place too.
TEST(GuardedArrays, AreTheScalarPrimitives) {
    std::vector<double> x = exp_inputs(20'000), y = log_inputs(20'000);
    for (double v : {0.0, -0.0, 1e-300, -1e-300, 1e-310, -1e-310, 709.0, 709.0000000000001, 709.78, 709.79, 800.0,
                     -800.0, kInf, -kInf, from_bits(0x7ff8000000000123), from_bits(0xfff4000000000abc), -1.0, -3.5}) {
        x.push_back(v);
        y.push_back(v);
    }
    x.resize(std::min(x.size(), y.size()));
    y.resize(x.size());
    struct Unary {
        const char* name;
        void (*array)(const double*, double*, std::size_t) noexcept;
        double (*one)(double) noexcept;
    };
    const Unary unary[] = {{"guarded_exp", kiv::guarded_exp_n, kiv::guarded_exp},
                           {"bounded_exp", kiv::bounded_exp_n, kiv::bounded_exp},
                           {"search_kiv_exp", kiv::search_kiv_exp_n, kiv::search_kiv_exp},
                           {"guarded_ln", kiv::guarded_ln_n, kiv::guarded_ln},
                           {"floored_ln", kiv::floored_ln_n, kiv::floored_ln}};
    for (const Unary& u : unary) {
        for (const std::vector<double>* in : {&x, &y}) {
            expect_same_bits(*in, u.array, u.one, u.name);
            std::vector<double> inplace = *in;
            u.array(inplace.data(), inplace.data(), inplace.size());
            for (std::size_t i = 0; i < inplace.size(); ++i) ASSERT_EQ(bits(inplace[i]), bits(u.one((*in)[i]))) << u.name;
        }
    }
    struct Binary {
        const char* name;
        void (*array)(const double*, const double*, double*, std::size_t) noexcept;
        double (*one)(double, double) noexcept;
    };
    for (const Binary& b : {Binary{"kiv", kiv::kiv_n, kiv::kiv}, Binary{"search_kiv", kiv::search_kiv_n, kiv::search_kiv}}) {
        const auto& [name, array, one] = b;
        std::vector<double> out(x.size()), inplace = y;
        array(x.data(), y.data(), out.data(), x.size());
        array(x.data(), inplace.data(), inplace.data(), x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_EQ(bits(out[i]), bits(one(x[i], y[i]))) << name << " " << x[i] << " " << y[i];
            ASSERT_EQ(bits(inplace[i]), bits(out[i])) << name;
        }
    }
}

}  // namespace
