// Inside the vector exp and log: the tables, and the array kernels each instruction set provides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kiv/vmath.hpp"

namespace kiv::vmath::detail {

extern const std::uint64_t kExpTable[256];
extern const double kLogTable[256];
extern const double kLogTable2[256];

using Element = kiv::vmath::Element;
using LogDomain = kiv::vmath::LogDomain;

// out[i] = f(x[i]) for i < n, where f is exp-like or log-like (vmath.hpp) and the replica of one build of
// the C library's exp or log stands in for it where f is exp or log; out may be x itself.
using ExpFn = void (*)(const double* x, double* out, std::size_t n, Element f) noexcept;
using LogFn = void (*)(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;

// Replicas of the library's build with fused multiply-adds (the one its loader picks on a CPU with FMA
// and AVX2), 8 lanes with AVX-512F and 4 with AVX2. Call only where the CPU has those instructions.
void exp_avx512_fma(const double* x, double* out, std::size_t n, Element f) noexcept;
void log_avx512_fma(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;
void exp_avx2_fma(const double* x, double* out, std::size_t n, Element f) noexcept;
void log_avx2_fma(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;

// The same with one fused multiply-add of the library's build left unfused (exp: the final
// scale + scale * tmp; log: the near-1 sum lo + r^3 q), so that a test can see the load-time check
// reject a replica that is off by one rounding.
void exp_avx512_fma_flipped(const double* x, double* out, std::size_t n, Element f) noexcept;
void log_avx512_fma_flipped(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;
void exp_avx2_fma_flipped(const double* x, double* out, std::size_t n, Element f) noexcept;
void log_avx2_fma_flipped(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;

// Replicas of the build without fused multiply-adds (what the loader picks on other CPUs), 4 lanes with
// AVX2 and 2 with SSE2 (every x86-64 CPU has it).
void exp_avx2(const double* x, double* out, std::size_t n, Element f) noexcept;
void log_avx2(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;
void exp_sse2(const double* x, double* out, std::size_t n, Element f) noexcept;
void log_sse2(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept;

// The inputs of the load-time check: boundaries and their neighbours, every table slot, subnormals,
// specials, inputs on which the library's two builds differ, and fixed random draws.
struct CheckInputs {
    std::vector<double> exp;
    std::vector<double> log;
};
const CheckInputs& check_inputs();

// The first disagreement of exp and log with the C library over the check's inputs, as a sentence; ""
// when every bit agrees.
std::string disagreement(ExpFn exp, LogFn log);

}  // namespace kiv::vmath::detail
