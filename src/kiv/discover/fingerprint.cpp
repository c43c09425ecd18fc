// Probe-point fingerprints and the open-addressing seen set.
#include "kiv/discover/fingerprint.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <random>

namespace kiv::discover {

std::vector<double> probe_point(std::size_t k, std::size_t n) {
    std::vector<double> point(n);
    for (std::size_t i = 0; i < n; ++i) point[i] = static_cast<double>(i + 1) * kProbeScales[k];
    return point;
}

ProbePoints probe_points(std::size_t n) {
    ProbePoints points;
    for (std::size_t k = 0; k < kProbes; ++k) points[k] = probe_point(k, n);
    return points;
}

namespace {

// The first `count` primes, by trial division (a few microseconds per thousand).
std::vector<std::uint64_t> first_primes(std::size_t count) {
    std::vector<std::uint64_t> primes;
    primes.reserve(count);
    for (std::uint64_t c = 2; primes.size() < count; ++c) {
        bool prime = true;
        for (const std::uint64_t p : primes) {
            if (p * p > c) break;
            if (c % p == 0) {
                prime = false;
                break;
            }
        }
        if (prime) primes.push_back(c);
    }
    return primes;
}

}  // namespace

ProbePoints independent_probe_points(std::size_t n) {
    const std::vector<std::uint64_t> primes = first_primes(kProbes * n);
    ProbePoints points;
    for (std::size_t k = 0; k < kProbes; ++k) {
        points[k].resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double root = std::sqrt(static_cast<double>(primes[kProbes * i + k]));
            points[k][i] = 0.5 + 2.0 * (root - std::floor(root));
        }
    }
    return points;
}

std::optional<ProbeValues> probe_values(const Expr& expr, const ProbePoints& points) {
    ProbeValues values;
    for (std::size_t k = 0; k < kProbes; ++k) {
        auto v = eval_point(expr, points[k], {});
        if (!v || !std::isfinite(*v)) return std::nullopt;
        values[k] = *v;
    }
    return values;
}

std::optional<ProbeValues> probe_values(const Expr& expr, std::size_t n) { return probe_values(expr, probe_points(n)); }

Fingerprint fingerprint_of(const ProbeValues& values) noexcept {
    Fingerprint fp;
    for (std::size_t k = 0; k < kProbes; ++k) {
        std::uint64_t bits = std::bit_cast<std::uint64_t>(values[k]);
        fp[2 * k] = static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32)));
        fp[2 * k + 1] = static_cast<std::int64_t>(bits & 0xFFFFFFFFu);
    }
    return fp;
}

std::optional<Fingerprint> fingerprint(const Expr& expr, std::size_t n) {
    auto values = probe_values(expr, n);
    if (!values) return std::nullopt;
    return fingerprint_of(*values);
}

namespace {

std::uint64_t mix(std::uint64_t x) noexcept {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

std::uint64_t random_seed() {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

constexpr std::size_t kInitialSlots = 1024;

}  // namespace

SeenSet::Table SeenSet::zeroed(std::size_t slots) {
    void* p = std::calloc(slots, sizeof(Slot));
    if (p == nullptr) throw std::bad_alloc();
    return Table(static_cast<Slot*>(p));
}

SeenSet::SeenSet() : seed_(random_seed()), slots_(zeroed(kInitialSlots)), mask_(kInitialSlots - 1) {}

SeenSet::Key SeenSet::key_of(const Fingerprint& fp) noexcept {
    Key k;
    for (std::size_t i = 0; i < kProbes; ++i) {
        k[i] = (static_cast<std::uint64_t>(fp[2 * i]) << 32) | (static_cast<std::uint64_t>(fp[2 * i + 1]) & 0xFFFFFFFFu);
    }
    return k;
}

SeenSet::Key SeenSet::key_of(const ProbeValues& values) noexcept {
    Key k;
    for (std::size_t i = 0; i < kProbes; ++i) k[i] = std::bit_cast<std::uint64_t>(values[i]);
    return k;
}

// Normalised by the probes where the values are least and greatest (the first of equals; the pair taken in
// index order, so that a negative b, which swaps them, gives the same pair): u_k = (v_k - v_p) / (v_q - v_p)
// lies in [0, 1] for the three other probes, and is rounded to a multiple of 2^-32. Rounding of the map
// itself moves u by about 1e-16 times the values' size over their spread, far below that step, so copies
// are split only when some u lies within that distance of a step's midpoint. The first word marks the key
// as normalised (a NaN pattern, which no finite value has), the second says which pair normalised it.
SeenSet::Key SeenSet::affine_key_of(const ProbeValues& values) noexcept {
    std::size_t lo = 0, hi = 0;
    for (std::size_t k = 1; k < kProbes; ++k) {
        if (values[k] < values[lo]) lo = k;
        if (values[k] > values[hi]) hi = k;
    }
    if (values[lo] == values[hi]) return key_of(values);
    const std::size_t p = std::min(lo, hi), q = std::max(lo, hi);
    const double spread = values[q] - values[p];
    Key key;
    key[0] = ~std::uint64_t{0};
    key[1] = p * kProbes + q;
    std::size_t w = 2;
    for (std::size_t k = 0; k < kProbes; ++k) {
        if (k == p || k == q) continue;
        const double u = (values[k] - values[p]) / spread;
        key[w++] = static_cast<std::uint64_t>(static_cast<std::int64_t>(std::nearbyint(std::ldexp(u, 32))));
    }
    return key;
}

std::uint64_t SeenSet::hash(const Key& key) const noexcept {
    std::uint64_t h = seed_;
    for (std::uint64_t w : key) h = mix(h ^ w) + 0x9e3779b97f4a7c15ULL;
    return h;
}

std::size_t SeenSet::slots_for(std::size_t more) const noexcept {
    std::size_t slots = mask_ + 1;
    while (2 * (size_ + more) > slots) slots *= 2;
    return slots;
}

std::size_t SeenSet::bytes_to_grow(std::size_t more) const noexcept {
    const std::size_t slots = slots_for(more);
    return slots == mask_ + 1 ? 0 : slots * sizeof(Slot);
}

SeenSet::Grown SeenSet::larger_for(std::size_t more) const {
    const std::size_t slots = slots_for(more);
    Grown g;
    if (slots == mask_ + 1) return g;
    g.table = zeroed(slots);
    g.slots = slots;
    return g;
}

void SeenSet::adopt(Grown&& grown) noexcept {
    if (!grown.table) return;
    slots_ = std::move(grown.table);
    mask_ = grown.slots - 1;
}

}  // namespace kiv::discover
