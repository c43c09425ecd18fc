// exp and log over whole arrays with the C library's bits, on the fastest path proven on this machine.
#pragma once

#include <cstddef>
#include <string>

namespace kiv::vmath {

// An element function: what an array call computes, one element at a time.
using Element = double (*)(double) noexcept;

// out[i] = f(x[i]) for i < n, bit for bit, where f is exp-like: it equals the C library's exp for every
// |v| < 709, as exp itself and the guarded exps of primitives.hpp do. Those elements are the replica's
// (which is exp there); f is called for the others (|v| >= 709, infinities, NaNs), so its guards and the
// library's NaN payloads and errno apply there. out may be x itself.
void exp(const double* x, double* out, std::size_t n, Element f) noexcept;

// The same for a log-like f: one that, for every v whose argument a = (fold && v <= 0 ? -v : v) lies in
// [lower, DBL_MAX], equals the C library's log of a. There the replica computes log(a); f is called for
// every other element. The plain log has no fold and takes every positive finite number; ln|y| folds.
struct LogDomain {
    bool fold = false;
    double lower = 0x1p-1074;  // positive
};
void log(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;

// out[i] = std::exp(x[i]) and std::log(x[i]).
void exp(const double* x, double* out, std::size_t n) noexcept;
void log(const double* x, double* out, std::size_t n) noexcept;

// How exp and log run in this process. The first call of any function here chooses, once: the replicas
// this CPU can run are tried fastest first (AVX-512 and AVX2 replicas of the library's build with fused
// multiply-adds, then AVX2 and SSE2 replicas of its build without), and the first whose every bit agrees
// with the library on a fixed set of inputs is taken; when none agrees, the library's exp and log are
// called element by element. KIV_MATH=libm skips the replicas; KIV_MATH=<name> tries only that one.
struct PathReport {
    std::string name;     // "avx512-fma", "avx2-fma", "avx2", "sse2" or "libm"
    std::string reason;   // why faster paths were turned down ("" when none was)
    std::size_t inputs;   // size of the check, exp and log inputs together (0 when none ran)
    double seconds;       // time taken to choose, the checks included
};
const PathReport& path();

}  // namespace kiv::vmath
