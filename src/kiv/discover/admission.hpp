// Admission of a search's candidates: each offered candidate is probed, and the first of each probe key is
// admitted to the store in offer order; later ones with a key already taken are dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kiv/discover/beam.hpp"
#include "kiv/discover/candidate.hpp"
#include "kiv/discover/fingerprint.hpp"
#include "kiv/discover/stopping.hpp"

namespace kiv::discover {

// Owns the seen set, the store of admitted candidates and the block of offers waiting to be admitted.
// Written only by the searching thread; its pool passes are const member functions that write only the
// slots they are handed.
class Admission {
public:
    // block: candidates probed per parallel pass. trace, when set, receives every admitted expression.
    // affine: candidates that are affine maps of each other at the probe points count as one.
    Admission(const Beam& beam, std::size_t block, std::vector<Expr>* trace, bool affine = false);

    // A seed with its probe values (seed number: the seeds admitted so far); true when admitted.
    bool admit_seed(const Expr& seed, const ProbeValues& values);

    // Starts a level: what is admitted from now on is the level's.
    void begin_level(std::uint64_t level) noexcept {
        level_ = level;
        level_begin_ = store_.size();
        pending_.clear();
    }

    // Queues c; true when the block is full and must be admitted before the next offer.
    bool offer(const Candidate& c) {
        pending_.push_back(c);
        return pending_.size() >= block_;
    }
    std::size_t pending() const noexcept { return pending_.size(); }

    // Bytes that admitting the pending block may allocate: the seen set's larger table, and the store's
    // growth.
    std::size_t table_growth() const noexcept { return seen_.bytes_to_grow(pending_.size()); }
    std::size_t store_growth() const noexcept { return store_.bytes_to_grow(pending_.size()); }

    // Admits the pending block: the seen set grows and the block is probed on the pool, then each candidate
    // whose key is not taken is admitted, in offer order. Polls stop; throws Halt when it is seen.
    void admit_pending(const Stopping& stop);

    const CandidateStore& admitted() const noexcept { return store_; }
    std::size_t level_begin() const noexcept { return level_begin_; }

    std::size_t seen_bytes() const noexcept { return seen_.bytes(); }
    // The store and the block being admitted.
    std::size_t candidate_bytes() const noexcept {
        return store_.bytes() + pending_.capacity() * sizeof(Candidate) +
               keys_.capacity() * (sizeof(SeenSet::Key) + sizeof(std::uint64_t) + sizeof(std::uint8_t));
    }
    std::size_t seed_bytes() const noexcept { return seed_probes_.capacity() * sizeof(ProbeValues); }

    // Probe values of c from its members' (a leaf's are its seed's); false when a probe fails. Exactly
    // what evaluating c's tokens at the probe points gives.
    bool probe(const Candidate& c, ProbeValues& out) const noexcept {
        if (c.is_leaf()) {
            out = seed_probes_[c.a];
            return true;
        }
        return OperandPass(c.op(), beam_.at_probes(c.a), beam_.at_probes(c.b())).apply(0, kProbes, out.data());
    }

private:
    // The key under which probe values are admitted, the one place where values become a key: their
    // bits, so that two candidates are one when they agree at every probe point; or, when the search
    // fits an affine map to each candidate, their normalised form, so that f, 2f and f + 1 are one.
    SeenSet::Key key_of(const ProbeValues& values) const noexcept {
        return affine_ ? SeenSet::affine_key_of(values) : SeenSet::key_of(values);
    }

    // The key of an admitted candidate, recomputed from its members: the same operations on the same
    // stored values give the same bits as when it was admitted.
    SeenSet::Key key_at(SeenSet::Id id) const noexcept {
        ProbeValues v;
        probe(store_[id], v);
        return key_of(v);
    }

    bool admit(const Candidate& c, const SeenSet::Key& key, std::uint64_t hash);
    void grow_seen(std::size_t more, const Stopping& stop);

    // Pool passes.
    enum : std::uint8_t { kNoFingerprint, kTaken, kOpen };
    void place_pass(SeenSet::Grown& grown, const Stopping& stop) const;
    void probe_pass(std::span<SeenSet::Key> keys, std::span<std::uint64_t> hashes, std::span<std::uint8_t> state,
                    const Stopping& stop) const;

    const Beam& beam_;
    std::size_t block_;
    std::vector<Expr>* trace_;
    bool affine_;
    std::uint64_t level_ = 0;
    SeenSet seen_;
    std::vector<ProbeValues> seed_probes_;  // of the admitted seeds, in order
    CandidateStore store_;                  // every admitted candidate, the seeds first
    std::size_t level_begin_ = 0;           // where the level being built starts in the store
    std::vector<Candidate> pending_;
    std::vector<SeenSet::Key> keys_;
    std::vector<std::uint64_t> hashes_;
    std::vector<std::uint8_t> state_;
};

}  // namespace kiv::discover
