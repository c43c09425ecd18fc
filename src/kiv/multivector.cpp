// Geometric product with blade signs computed on the fly from bit parities.
#include "kiv/multivector.hpp"

#include <algorithm>
#include <cstddef>

#include "kiv/failure.hpp"
#include "kiv/opaque.hpp"
#include "kiv/pool.hpp"

namespace kiv {
namespace {

// Pairs per chunk below which handing work to another thread costs more than it saves.
constexpr std::size_t kMinChunk = 64;

inline bool odd_bits(std::uint64_t x) noexcept { return __builtin_parityll(x) != 0; }

// Bit m of the result is the parity of the bits of i above position m: whether factor e_m of a right
// blade passes an odd number of the left blade's higher factors on its way into ascending order.
inline std::uint64_t passes(std::uint64_t i) noexcept {
    std::uint64_t q = i >> 1;
    q ^= q >> 1;
    q ^= q >> 2;
    q ^= q >> 4;
    q ^= q >> 8;
    q ^= q >> 16;
    q ^= q >> 32;
    return q;
}

// Any length and any signature: every index is checked as it is used. For each blade pair the factor
// f starts at 1 and walks the factors of the right blade upwards, negated for each odd number of higher
// left factors passed and multiplied by the metric of each shared factor.
void product_checked(std::span<const double> a, std::span<const double> b, std::span<const std::int8_t> sig,
                     double* r) {
    const std::size_t n = a.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double ai = a[i];
        if (ai == 0.0) continue;
        for (std::size_t j = 0; j < n; ++j) {
            if (j >= b.size()) index_out_of_bounds(b.size(), j);
            const double bj = b[j];
            if (bj == 0.0) continue;
            double f = 1.0;
            for (std::uint64_t bits = j; bits != 0; bits &= bits - 1) {
                const unsigned m = static_cast<unsigned>(__builtin_ctzll(bits));
                const std::uint64_t above = (static_cast<std::uint64_t>(i) >> m) >> 1;
                if (odd_bits(above)) f = -f;
                if ((i >> m) & 1) {
                    if (m >= sig.size()) index_out_of_bounds(sig.size(), m);
                    f *= static_cast<double>(sig[m]);
                }
            }
            const std::size_t k = i ^ j;
            if (k >= n) index_out_of_bounds(n, k);
            r[k] = bj * (f * ai) + r[k];
        }
    }
}

// A power-of-two length 2^dims, b at least as long, a signature entry for every factor, each −1, 0 or
// 1: nothing can fall out of range, and f is ±1 or ±0 with its sign the parity of the passes and of the
// shared negative factors. f × a[i] is taken from the four possible products, each computed as such.
void product_unit_metric(std::span<const double> a, const double* b, std::uint64_t neg_mask,
                         std::uint64_t zero_mask, double* r) {
    const std::size_t n = a.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double ai = a[i];
        if (ai == 0.0) continue;
        // Indexed by (metric zero ? 2 : 0) | (sign negative ? 1 : 0).
        const double fa[4] = {opaque(1.0) * ai, opaque(-1.0) * ai, opaque(0.0) * ai, opaque(-0.0) * ai};
        const std::uint64_t q = passes(i);
        for (std::size_t j = 0; j < n; ++j) {
            const double bj = b[j];
            if (bj == 0.0) continue;
            const std::uint64_t shared = i & j;
            const unsigned neg = odd_bits((q & j) ^ (shared & neg_mask)) ? 1u : 0u;
            const unsigned zero = (shared & zero_mask) != 0 ? 2u : 0u;
            const std::size_t k = i ^ j;
            r[k] = bj * fa[zero | neg] + r[k];
        }
    }
}

// The layout facts the fast kernel relies on, worked out once per signature and length.
struct Plan {
    std::size_t unit_dims = 0;  // number of leading entries that are −1, 0 or 1
    std::uint64_t neg_mask = 0;
    std::uint64_t zero_mask = 0;
};

Plan plan_for(std::span<const std::int8_t> sig) {
    Plan p;
    for (std::size_t m = 0; m < sig.size() && m < 64; ++m) {
        const int s = sig[m];
        if (s < -1 || s > 1) break;
        if (s == -1) p.neg_mask |= std::uint64_t{1} << m;
        if (s == 0) p.zero_mask |= std::uint64_t{1} << m;
        p.unit_dims = m + 1;
    }
    return p;
}

// Kept out of line, as octonion_mul: every caller runs the same machine code, so NaN payloads agree.
[[gnu::noinline]] void product_into(std::span<const double> a, std::span<const double> b, std::span<const std::int8_t> sig,
                  const Plan& plan, double* r) {
    const std::size_t n = a.size();
    const bool power_of_two = n != 0 && (n & (n - 1)) == 0;
    if (power_of_two && b.size() >= n && static_cast<std::size_t>(__builtin_ctzll(n)) <= plan.unit_dims) {
        product_unit_metric(a, b.data(), plan.neg_mask, plan.zero_mask, r);
    } else {
        product_checked(a, b, sig, r);
    }
}

}  // namespace

Multivector geometric_product(std::span<const double> a, std::span<const double> b,
                              std::span<const std::int8_t> signature) {
    Multivector r(a.size(), 0.0);
    product_into(a, b, signature, plan_for(signature), r.data());
    return r;
}

std::vector<Multivector> geometric_product_n(std::span<const Multivector> a_batch,
                                             std::span<const Multivector> b_batch,
                                             std::span<const std::int8_t> signature) {
    std::vector<Multivector> out(std::min(a_batch.size(), b_batch.size()));
    const Plan plan = plan_for(signature);
    const Multivector* as = a_batch.data();
    const Multivector* bs = b_batch.data();
    Multivector* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk, [=, &plan](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) {
            Multivector r(as[p].size(), 0.0);
            product_into(as[p], bs[p], signature, plan, r.data());
            dst[p] = std::move(r);
        }
    });
    return out;
}

void geometric_product_strided(std::size_t pairs, std::span<const std::int8_t> signature, StridedRecordsIn a,
                               StridedRecordsIn b, StridedRecordsOut out, Split split) {
    const Plan plan = plan_for(signature);
    if (signature.empty() || signature.size() > kMaxStridedDims || plan.unit_dims != signature.size()) {
        throw InternalFailure("geometric_product_strided: unsupported signature");
    }
    const std::size_t n = std::size_t{1} << signature.size();
    constexpr std::ptrdiff_t kStep = sizeof(double);
    auto body = [=, &plan](std::size_t begin, std::size_t end) {
        // Scratch for one pair: the result, and gathered copies of operands that are not contiguous.
        std::vector<double> scratch(3 * n);
        double* r = scratch.data();
        double* ga = r + n;
        double* gb = ga + n;
        for (std::size_t p = begin; p < end; ++p) {
            const StridedIn ra = a.record(p), rb = b.record(p);
            const double* pa = reinterpret_cast<const double*>(ra.data);
            const double* pb = reinterpret_cast<const double*>(rb.data);
            if (ra.step != kStep) {
                for (std::size_t k = 0; k < n; ++k) ga[k] = ra[k];
                pa = ga;
            }
            if (rb.step != kStep) {
                for (std::size_t k = 0; k < n; ++k) gb[k] = rb[k];
                pb = gb;
            }
            std::fill(r, r + n, 0.0);
            product_into(std::span<const double>(pa, n), std::span<const double>(pb, n), signature, plan, r);
            const StridedOut ro = out.record(p);
            for (std::size_t k = 0; k < n; ++k) ro.set(k, r[k]);
        }
    };
    if (split == Split::Allowed) {
        pool::parallel_for(pairs, kMinChunk, body);
    } else if (pairs > 0) {
        body(0, pairs);
    }
}

}  // namespace kiv
