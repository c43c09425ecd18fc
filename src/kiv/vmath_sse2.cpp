// The SSE2 kernels, 2 lanes: a replica of the library's build without FMA, for any x86-64 CPU.
#include <emmintrin.h>

#include <cstdint>

#include "kiv/vmath_replica.hpp"

namespace kiv::vmath::detail {
namespace {

struct Sse2 {
    using D = __m128d;
    using I = __m128i;
    using M = __m128d;  // all ones in a lane where true
    static constexpr std::size_t kLanes = 2;

    static D load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, D v) { _mm_storeu_pd(p, v); }
    static D dup(double v) { return _mm_set1_pd(v); }
    static I dupi(std::uint64_t v) { return _mm_set1_epi64x(static_cast<long long>(v)); }
    static D add(D a, D b) { return _mm_add_pd(a, b); }
    static D sub(D a, D b) { return _mm_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm_mul_pd(a, b); }
    static I bits(D v) { return _mm_castpd_si128(v); }
    static D real(I v) { return _mm_castsi128_pd(v); }
    static I iadd(I a, I b) { return _mm_add_epi64(a, b); }
    static I isub(I a, I b) { return _mm_sub_epi64(a, b); }
    static I iand(I a, I b) { return _mm_and_si128(a, b); }
    static I shr(I a, int k) { return _mm_srli_epi64(a, k); }
    static I shl(I a, int k) { return _mm_slli_epi64(a, k); }
    struct Pair {
        D first;
        D second;
    };
    static Pair pair(const void* t, I slot) {
        const double* d = static_cast<const double*>(t);
        const D a = _mm_loadu_pd(d + _mm_cvtsi128_si64(slot));
        const D b = _mm_loadu_pd(d + _mm_cvtsi128_si64(_mm_unpackhi_epi64(slot, slot)));
        return {_mm_unpacklo_pd(a, b), _mm_unpackhi_pd(a, b)};
    }
    static D top_to_double(I tmp) {
        // The high half of each lane shifted by 20 is tmp >> 52; bring both halves down and convert.
        return _mm_cvtepi32_pd(_mm_shuffle_epi32(_mm_srai_epi32(tmp, 20), _MM_SHUFFLE(3, 1, 3, 1)));
    }
    static D abs(D v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }
    static M lt(D a, D b) { return _mm_cmplt_pd(a, b); }
    static M le(D a, D b) { return _mm_cmple_pd(a, b); }
    static M ge(D a, D b) { return _mm_cmpge_pd(a, b); }
    static M eq(D a, D b) { return _mm_cmpeq_pd(a, b); }
    static M both(M a, M b) { return _mm_and_pd(a, b); }
    static bool all(M m) { return _mm_movemask_pd(m) == 0x3; }
    static bool any(M m) { return _mm_movemask_pd(m) != 0; }
    static D select(M m, D yes, D no) { return _mm_or_pd(_mm_and_pd(m, yes), _mm_andnot_pd(m, no)); }
};

}  // namespace

void exp_sse2(const double* x, double* out, std::size_t n, Element f) noexcept { exp_array<Sse2, kPlainBuild>(x, out, n, f); }
void log_sse2(const double* x, double* out, std::size_t n, Element f, LogDomain d) noexcept { log_array<Sse2, kPlainBuild>(x, out, n, f, d); }

}  // namespace kiv::vmath::detail
