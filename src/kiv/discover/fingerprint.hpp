// Five-probe fingerprints of expressions and the set of fingerprints a search has already admitted.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "kiv/discover/expr.hpp"

namespace kiv::discover {

inline constexpr std::size_t kProbes = 5;

// Scales of the probe points: Euler-Mascheroni, Glaisher-Kinkelin, golden ratio, ln 2, Apery.
inline constexpr std::array<double, kProbes> kProbeScales = {0.5772156649015328, 1.2824271291006226,
                                                             1.618033988749895, 0.6931471805599453,
                                                             1.2020569031595942};

// Words 2k and 2k + 1 hold the upper half (sign-extended) and the lower half of the bits of the
// expression's value at probe k.
using Fingerprint = std::array<std::int64_t, 2 * kProbes>;

using ProbeValues = std::array<double, kProbes>;

// Probe point k for n variables: variable i takes (i + 1) * scale k.
std::vector<double> probe_point(std::size_t k, std::size_t n);

// The five points at which a search probes its expressions, one value per variable each.
using ProbePoints = std::array<std::vector<double>, kProbes>;

// The five probe points above for n variables.
ProbePoints probe_points(std::size_t n);

// Five probe points for n variables with no rational relation between the variables: variable i takes
// 0.5 + 2 * frac(sqrt(p)) at probe k, p the (5i + k + 1)-th prime. Square roots of distinct primes are
// linearly independent over the rationals, so no variable is a rational affine map of others at every
// probe (with the points above, x1 = 2 x0 at each of them, so 2 x0 and x1 - x0 stood for x1 and x0).
ProbePoints independent_probe_points(std::size_t n);

// Values of expr at the given points (at the five probe points for n variables), or no value when an
// evaluation fails or is not finite.
std::optional<ProbeValues> probe_values(const Expr& expr, const ProbePoints& points);
std::optional<ProbeValues> probe_values(const Expr& expr, std::size_t n);

Fingerprint fingerprint_of(const ProbeValues& values) noexcept;

// The fingerprint of expr for n variables, or none when it cannot be probed.
std::optional<Fingerprint> fingerprint(const Expr& expr, std::size_t n);

// The set of probe keys already taken in one search, held compactly. Each entry is the number (id) the
// caller gave a key and 32 bits of the key's hash; a match of those bits is confirmed by asking the caller
// for the id's key again (the search recomputes it from the candidate's operands), so membership is decided
// on the full key, exactly, at eight bytes a slot. Open addressing with linear probing over a power-of-two
// table at most half full; the hash is seeded from the system's random source when the set is made. Only
// membership is ever asked, so neither the seed nor the layout affects any result.
//
// key_at(id) must return the key that id was inserted with, for every id inserted so far.
class SeenSet {
public:
    using Key = std::array<std::uint64_t, kProbes>;
    using Id = std::uint32_t;
    // Ids run from 0 to kMaxIds - 1.
    static constexpr std::size_t kMaxIds = 0xFFFFFFFFu;

    SeenSet();

    static Key key_of(const Fingerprint& fp) noexcept;
    static Key key_of(const ProbeValues& values) noexcept;
    // A key that is the same for values and every affine map a + b * values (b != 0), up to rounding: see
    // fingerprint.cpp. Values equal at every probe keep their own bits (a constant is its value).
    static Key affine_key_of(const ProbeValues& values) noexcept;

    std::uint64_t hash(const Key& key) const noexcept;

    // Membership; safe to call from several threads while nobody inserts. hash must be hash(key).
    template <class KeyAt>
    bool contains(const Key& key, std::uint64_t hash, const KeyAt& key_at) const {
        return *find(key, hash, key_at) != 0;
    }

    // Inserts id for key unless an equal key is present; true when it was present (the set is then
    // unchanged). The caller makes room first (reserve, or larger_for, place and adopt).
    template <class KeyAt>
    bool insert(const Key& key, std::uint64_t hash, Id id, const KeyAt& key_at) {
        Slot* s = find(key, hash, key_at);
        if (*s != 0) return true;
        *s = (hash & kTagMask) | (static_cast<Slot>(id) + 1);
        ++size_;
        return false;
    }

    // Makes room for `more` insertions.
    template <class KeyAt>
    void reserve(std::size_t more, const KeyAt& key_at);

    // The same in steps, so that several threads can share the work: larger_for makes the larger table,
    // empty (no table when there is room already); place moves the entries of the current table's slots
    // [begin, end) into it, safely from several threads at once on disjoint ranges, and without changing
    // the set; once every slot is placed, adopt puts it in place.
    struct Grown;
    Grown larger_for(std::size_t more) const;
    template <class KeyAt>
    void place(Grown& grown, std::size_t begin, std::size_t end, const KeyAt& key_at) const;
    // Bytes of the larger table larger_for(more) would make; 0 when there is room already.
    std::size_t bytes_to_grow(std::size_t more) const noexcept;
    void adopt(Grown&& grown) noexcept;

    std::size_t slots() const noexcept { return mask_ + 1; }
    std::size_t size() const noexcept { return size_; }
    std::size_t bytes() const noexcept { return (mask_ + 1) * sizeof(Slot); }

private:
    // The hash's upper half and the id plus one; 0 when the slot is empty. The home slot comes from the
    // hash's lower bits, which a slot does not keep: a larger table asks for the keys again.
    using Slot = std::uint64_t;
    static constexpr Slot kTagMask = ~Slot{0} << 32;
    static constexpr Slot kIdMask = ~kTagMask;
    // Zeroed storage straight from the allocator (an all-zero slot is empty): large tables come as fresh
    // zero pages, so making one costs no pass of its own.
    struct FreeSlots {
        void operator()(Slot* p) const noexcept { std::free(p); }
    };
    using Table = std::unique_ptr<Slot[], FreeSlots>;
    static Table zeroed(std::size_t slots);
    std::size_t slots_for(std::size_t more) const noexcept;

    // The slot holding key, or the empty slot where it would go.
    template <class KeyAt>
    Slot* find(const Key& key, std::uint64_t hash, const KeyAt& key_at) const {
        const Slot tag = hash & kTagMask;
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s == 0) return &s;
            if ((s & kTagMask) == tag && key_at(static_cast<Id>((s & kIdMask) - 1)) == key) return &s;
        }
    }

    std::uint64_t seed_;
    Table slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

struct SeenSet::Grown {
    Table table;
    std::size_t slots = 0;
};

template <class KeyAt>
void SeenSet::reserve(std::size_t more, const KeyAt& key_at) {
    Grown g = larger_for(more);
    if (!g.table) return;
    place(g, 0, slots(), key_at);
    adopt(std::move(g));
}

template <class KeyAt>
void SeenSet::place(Grown& grown, std::size_t begin, std::size_t end, const KeyAt& key_at) const {
    const std::size_t to_mask = grown.slots - 1;
    for (std::size_t j = begin; j < end; ++j) {
        const Slot s = slots_[j];
        if (s == 0) continue;
        // Entries are distinct, so a slot only needs claiming: the first empty one from the home slot on.
        for (std::size_t i = hash(key_at(static_cast<Id>((s & kIdMask) - 1))) & to_mask;; i = (i + 1) & to_mask) {
            Slot empty = 0;
            if (std::atomic_ref<Slot>(grown.table[i]).compare_exchange_strong(empty, s, std::memory_order_relaxed)) {
                break;
            }
        }
    }
}

}  // namespace kiv::discover
