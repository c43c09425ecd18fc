// Five-probe fingerprints of expressions and the set of fingerprints a search has already admitted.
#pragma once

#include <array>
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

// Values of expr at the five probe points, or no value when an evaluation fails or is not finite.
std::optional<ProbeValues> probe_values(const Expr& expr, std::size_t n);

Fingerprint fingerprint_of(const ProbeValues& values) noexcept;

// The fingerprint of expr for n variables, or none when it cannot be probed.
std::optional<Fingerprint> fingerprint(const Expr& expr, std::size_t n);

// The set of fingerprints already taken in one search. A fingerprint is held as the five bit patterns it
// was made from (the same information in half the space). Open addressing with linear probing over a
// power-of-two table; the hash is seeded from the system's random source when the set is made. Only
// membership is ever asked, so neither the seed nor the layout affects any result.
class SeenSet {
public:
    using Key = std::array<std::uint64_t, kProbes>;

    SeenSet();

    static Key key_of(const Fingerprint& fp) noexcept;
    static Key key_of(const ProbeValues& values) noexcept;

    std::uint64_t hash(const Key& key) const noexcept;
    std::uint64_t hash(const Fingerprint& fp) const noexcept { return hash(key_of(fp)); }

    // Inserts key; true when it was already present (the set is then unchanged). hash must be hash(key).
    bool insert(const Key& key, std::uint64_t hash);
    bool insert(const Fingerprint& fp) {
        const Key key = key_of(fp);
        return insert(key, hash(key));
    }

    // Membership without insertion; safe to call from several threads while nobody inserts.
    bool contains(const Key& key, std::uint64_t hash) const noexcept;
    bool contains(const Fingerprint& fp) const noexcept {
        const Key key = key_of(fp);
        return contains(key, hash(key));
    }

    // Makes room for `more` insertions without growing in between.
    void reserve(std::size_t more);

    // The same in two steps, so that the copying can run while other threads read the set: grown_for
    // builds the larger table without changing the set (an empty result when there is room already),
    // adopt puts it in place.
    struct Grown;
    Grown grown_for(std::size_t more) const;
    // Bytes of the larger table grown_for(more) would build; 0 when there is room already.
    std::size_t bytes_to_grow(std::size_t more) const noexcept;
    void adopt(Grown&& grown) noexcept;

    std::size_t size() const noexcept { return size_; }

private:
    struct Slot {
        std::uint64_t tag;  // the hash with its lowest bit set, or 0 when the slot is empty
        Key key;
    };
    // Zeroed storage straight from the allocator (an all-zero slot is empty): large tables come as fresh
    // zero pages, so making one costs no pass of its own.
    struct FreeSlots {
        void operator()(Slot* p) const noexcept { std::free(p); }
    };
    using Table = std::unique_ptr<Slot[], FreeSlots>;
    static Table zeroed(std::size_t slots);
    std::size_t slots_for(std::size_t more) const noexcept;
    void rebuild(std::size_t slots);

    static void place_all(const Slot* from, std::size_t from_slots, Slot* to, std::size_t to_mask) noexcept;

    std::uint64_t seed_;
    Table slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

struct SeenSet::Grown {
    Table table;
    std::size_t slots = 0;
};

}  // namespace kiv::discover
