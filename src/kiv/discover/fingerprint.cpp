// Probe-point fingerprints and the open-addressing seen set.
#include "kiv/discover/fingerprint.hpp"

#include <bit>
#include <random>

namespace kiv::discover {

std::vector<double> probe_point(std::size_t k, std::size_t n) {
    std::vector<double> point(n);
    for (std::size_t i = 0; i < n; ++i) point[i] = static_cast<double>(i + 1) * kProbeScales[k];
    return point;
}

std::optional<ProbeValues> probe_values(const Expr& expr, std::size_t n) {
    ProbeValues values;
    for (std::size_t k = 0; k < kProbes; ++k) {
        auto v = eval_point(expr, probe_point(k, n), {});
        if (!v || !std::isfinite(*v)) return std::nullopt;
        values[k] = *v;
    }
    return values;
}

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

SeenSet::SeenSet() : seed_(random_seed()), keys_(kInitialSlots), used_(kInitialSlots, 0), mask_(kInitialSlots - 1) {}

SeenSet::Packed SeenSet::pack(const Fingerprint& fp) noexcept {
    Packed p;
    for (std::size_t k = 0; k < kProbes; ++k) {
        p[k] = (static_cast<std::uint64_t>(fp[2 * k]) << 32) | (static_cast<std::uint64_t>(fp[2 * k + 1]) & 0xFFFFFFFFu);
    }
    return p;
}

std::uint64_t SeenSet::hash_packed(const Packed& p) const noexcept {
    std::uint64_t h = seed_;
    for (std::uint64_t w : p) h = mix(h ^ w) + 0x9e3779b97f4a7c15ULL;
    return h;
}

std::uint64_t SeenSet::hash(const Fingerprint& fp) const noexcept { return hash_packed(pack(fp)); }

bool SeenSet::contains(const Fingerprint& fp, std::uint64_t hash) const noexcept {
    Packed p = pack(fp);
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
        if (!used_[i]) return false;
        if (keys_[i] == p) return true;
    }
}

bool SeenSet::insert(const Fingerprint& fp, std::uint64_t hash) {
    Packed p = pack(fp);
    std::size_t i = hash & mask_;
    for (;; i = (i + 1) & mask_) {
        if (!used_[i]) break;
        if (keys_[i] == p) return true;
    }
    keys_[i] = p;
    used_[i] = 1;
    ++size_;
    if (2 * size_ > mask_ + 1) grow();
    return false;
}

void SeenSet::grow() {
    std::vector<Packed> old_keys = std::move(keys_);
    std::vector<std::uint8_t> old_used = std::move(used_);
    std::size_t slots = 2 * (mask_ + 1);
    keys_.assign(slots, Packed{});
    used_.assign(slots, 0);
    mask_ = slots - 1;
    for (std::size_t j = 0; j < old_keys.size(); ++j) {
        if (!old_used[j]) continue;
        std::size_t i = hash_packed(old_keys[j]) & mask_;
        while (used_[i]) i = (i + 1) & mask_;
        keys_[i] = old_keys[j];
        used_[i] = 1;
    }
}

}  // namespace kiv::discover
