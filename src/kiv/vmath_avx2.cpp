// The AVX2 kernels, 4 lanes: replicas of the library's FMA build and of its build without FMA.
//
// Only the code between the target pragmas uses AVX2 and FMA instructions, and it is reached only once
// the CPU is known to have them; the rest of the core stays generic x86-64.
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "kiv/vmath_kernels.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#include "kiv/vmath_replica.hpp"

namespace kiv::vmath::detail {
namespace {

struct Avx2 {
    using D = __m256d;
    using I = __m256i;
    using M = __m256d;  // all ones in a lane where true
    static constexpr std::size_t kLanes = 4;

    static D load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, D v) { _mm256_storeu_pd(p, v); }
    static D dup(double v) { return _mm256_set1_pd(v); }
    static I dupi(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
    static D add(D a, D b) { return _mm256_add_pd(a, b); }
    static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D fma(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
    static D fnma(D a, D b, D c) { return _mm256_fnmadd_pd(a, b, c); }
    static I bits(D v) { return _mm256_castpd_si256(v); }
    static D real(I v) { return _mm256_castsi256_pd(v); }
    static I iadd(I a, I b) { return _mm256_add_epi64(a, b); }
    static I isub(I a, I b) { return _mm256_sub_epi64(a, b); }
    static I iand(I a, I b) { return _mm256_and_si256(a, b); }
    static I shr(I a, int k) { return _mm256_srli_epi64(a, k); }
    static I shl(I a, int k) { return _mm256_slli_epi64(a, k); }
    // Four pairs loaded one by one and transposed: faster than two gather instructions on some CPUs and
    // no slower on others.
    struct Pair {
        D first;
        D second;
    };
    static Pair pair(const void* t, I slot) {
        alignas(32) std::int64_t i[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(i), slot);
        const double* d = static_cast<const double*>(t);
        const D a = _mm256_set_m128d(_mm_loadu_pd(d + i[2]), _mm_loadu_pd(d + i[0]));  // lanes 0 and 2
        const D b = _mm256_set_m128d(_mm_loadu_pd(d + i[3]), _mm_loadu_pd(d + i[1]));  // lanes 1 and 3
        return {_mm256_unpacklo_pd(a, b), _mm256_unpackhi_pd(a, b)};
    }
    static D top_to_double(I tmp) {
        // The high half of each lane shifted by 20 is tmp >> 52; gather those four halves and convert.
        const I high = _mm256_srai_epi32(tmp, 20);
        const I packed = _mm256_permutevar8x32_epi32(high, _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7));
        return _mm256_cvtepi32_pd(_mm256_castsi256_si128(packed));
    }
    static D abs(D v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }
    static M lt(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static M le(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
    static M ge(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static M eq(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static M both(M a, M b) { return _mm256_and_pd(a, b); }
    static bool all(M m) { return _mm256_movemask_pd(m) == 0xf; }
    static bool any(M m) { return _mm256_movemask_pd(m) != 0; }
    static D select(M m, D yes, D no) { return _mm256_blendv_pd(no, yes, m); }
};

}  // namespace

void exp_avx2_fma(const double* x, double* out, std::size_t n, Element f) noexcept { exp_array<Avx2, kFmaBuild>(x, out, n, f); }
void log_avx2_fma(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept { log_array<Avx2, kFmaBuild>(x, out, n, f, d); }
void exp_avx2_fma_flipped(const double* x, double* out, std::size_t n, Element f) noexcept {
    exp_array<Avx2, kFmaBuild & ~site::kExpScale>(x, out, n, f);
}
void log_avx2_fma_flipped(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept {
    log_array<Avx2, kFmaBuild & ~site::kNearY>(x, out, n, f, d);
}
void exp_avx2(const double* x, double* out, std::size_t n, Element f) noexcept { exp_array<Avx2, kPlainBuild>(x, out, n, f); }
void log_avx2(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept { log_array<Avx2, kPlainBuild>(x, out, n, f, d); }

}  // namespace kiv::vmath::detail

#pragma GCC pop_options
