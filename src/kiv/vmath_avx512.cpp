// The AVX-512 kernels, 8 lanes: a replica of the library's FMA build (the one it runs on such CPUs).
//
// Only the code between the target pragmas uses AVX-512F and FMA instructions, and it is reached only once
// the CPU is known to have them.
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "kiv/vmath_kernels.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f,fma")
// GCC 12's AVX-512 headers start some results from a deliberately undefined vector, which its
// uninitialised-use warnings report wherever they are inlined (GCC bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "kiv/vmath_replica.hpp"

namespace kiv::vmath::detail {
namespace {

struct Avx512 {
    using D = __m512d;
    using I = __m512i;
    using M = __mmask8;
    static constexpr std::size_t kLanes = 8;

    static D load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, D v) { _mm512_storeu_pd(p, v); }
    static D dup(double v) { return _mm512_set1_pd(v); }
    static I dupi(std::uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }
    static D add(D a, D b) { return _mm512_add_pd(a, b); }
    static D sub(D a, D b) { return _mm512_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm512_mul_pd(a, b); }
    static D fma(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
    static D fnma(D a, D b, D c) { return _mm512_fnmadd_pd(a, b, c); }
    static I bits(D v) { return _mm512_castpd_si512(v); }
    static D real(I v) { return _mm512_castsi512_pd(v); }
    static I iadd(I a, I b) { return _mm512_add_epi64(a, b); }
    static I isub(I a, I b) { return _mm512_sub_epi64(a, b); }
    static I iand(I a, I b) { return _mm512_and_si512(a, b); }
    static I shr(I a, int k) { return _mm512_srli_epi64(a, static_cast<unsigned>(k)); }
    static I shl(I a, int k) { return _mm512_slli_epi64(a, static_cast<unsigned>(k)); }
    // Eight pairs loaded one by one and transposed: faster than two gather instructions on some CPUs and
    // no slower on others.
    struct Pair {
        D first;
        D second;
    };
    static Pair pair(const void* t, I slot) {
        alignas(64) std::int64_t i[8];
        _mm512_store_si512(i, slot);
        const double* d = static_cast<const double*>(t);
        auto two = [&](int lo, int hi) { return _mm256_set_m128d(_mm_loadu_pd(d + i[hi]), _mm_loadu_pd(d + i[lo])); };
        const D a = _mm512_insertf64x4(_mm512_castpd256_pd512(two(0, 2)), two(4, 6), 1);  // lanes 0, 2, 4, 6
        const D b = _mm512_insertf64x4(_mm512_castpd256_pd512(two(1, 3)), two(5, 7), 1);  // lanes 1, 3, 5, 7
        return {_mm512_unpacklo_pd(a, b), _mm512_unpackhi_pd(a, b)};
    }
    static D top_to_double(I tmp) { return _mm512_cvtepi32_pd(_mm512_cvtepi64_epi32(_mm512_srai_epi64(tmp, 52))); }
    static D abs(D v) { return _mm512_castsi512_pd(_mm512_and_si512(bits(v), dupi(0x7fffffffffffffffULL))); }
    static M lt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M le(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
    static M ge(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static M eq(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static M both(M a, M b) { return static_cast<M>(a & b); }
    static bool all(M m) { return m == 0xff; }
    static bool any(M m) { return m != 0; }
    static D select(M m, D yes, D no) { return _mm512_mask_blend_pd(m, no, yes); }
};

}  // namespace

void exp_avx512_fma(const double* x, double* out, std::size_t n, Element f) noexcept {
    exp_array<Avx512, kFmaBuild>(x, out, n, f);
}
void log_avx512_fma(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept {
    log_array<Avx512, kFmaBuild>(x, out, n, f, d);
}
void exp_avx512_fma_flipped(const double* x, double* out, std::size_t n, Element f) noexcept {
    exp_array<Avx512, kFmaBuild & ~site::kExpScale>(x, out, n, f);
}
void log_avx512_fma_flipped(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept {
    log_array<Avx512, kFmaBuild & ~site::kNearY>(x, out, n, f, d);
}

}  // namespace kiv::vmath::detail

#pragma GCC diagnostic pop
#pragma GCC pop_options
