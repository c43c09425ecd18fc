// Probing offered candidates on the pool and admitting them in offer order.
#include "kiv/discover/admission.hpp"

#include <algorithm>
#include <string>

#include "kiv/memory.hpp"
#include "kiv/pool.hpp"

namespace kiv::discover {
namespace {

// Items between two polls in the probe pass (a probe costs a few dozen operations).
constexpr std::size_t kPollEvery = 1024;

}  // namespace

Admission::Admission(const Beam& beam, std::size_t block, std::vector<Expr>* trace, bool affine)
    : beam_(beam), block_(block), trace_(trace), affine_(affine) {}

bool Admission::admit(const Candidate& c, const SeenSet::Key& key, std::uint64_t hash) {
    if (store_.size() >= SeenSet::kMaxIds) {
        throw kiv::OutOfMemory("formula search: level " + std::to_string(level_) +
                               " admits more candidates than one search can track; try a smaller "
                               "beam_width or max_complexity");
    }
    const auto keys = [this](SeenSet::Id id) { return key_at(id); };
    if (seen_.insert(key, hash, static_cast<SeenSet::Id>(store_.size()), keys)) return false;
    store_.push_back(c);
    return true;
}

bool Admission::admit_seed(const Expr& seed, const ProbeValues& values) {
    seen_.reserve(1, [this](SeenSet::Id id) { return key_at(id); });
    const SeenSet::Key key = key_of(values);
    seed_probes_.push_back(values);
    if (!admit(Candidate::leaf(member_index(seed_probes_.size() - 1)), key, seen_.hash(key))) {
        seed_probes_.pop_back();
        return false;
    }
    if (trace_) trace_->push_back(seed);
    return true;
}

void Admission::place_pass(SeenSet::Grown& grown, const Stopping& stop) const {
    kiv::pool::parallel_for(seen_.slots(), 4 * kPollEvery, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end && !stop.halted(); j += kPollEvery) {
            seen_.place(grown, j, std::min(end, j + kPollEvery), [this](SeenSet::Id id) { return key_at(id); });
        }
    });
}

void Admission::grow_seen(std::size_t more, const Stopping& stop) {
    SeenSet::Grown grown = seen_.larger_for(more);
    if (!grown.table) return;
    place_pass(grown, stop);
    // A table left half made by a stop is dropped with the search.
    stop.check();
    seen_.adopt(std::move(grown));
}

void Admission::probe_pass(std::span<SeenSet::Key> keys, std::span<std::uint64_t> hashes,
                           std::span<std::uint8_t> state, const Stopping& stop) const {
    kiv::pool::parallel_for(pending_.size(), 1024, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            if ((i - begin) % kPollEvery == 0 && stop.halted()) break;
            ProbeValues v;
            if (!probe(pending_[i], v)) {
                state[i] = kNoFingerprint;
                continue;
            }
            keys[i] = key_of(v);
            hashes[i] = seen_.hash(keys[i]);
            // The set does not change during this pass: what it holds now stays taken.
            state[i] = seen_.contains(keys[i], hashes[i], [this](SeenSet::Id id) { return key_at(id); }) ? kTaken
                                                                                                        : kOpen;
        }
    });
}

void Admission::admit_pending(const Stopping& stop) {
    const std::size_t count = pending_.size();
    if (count == 0) return;
    keys_.resize(count);
    hashes_.resize(count);
    state_.resize(count);
    grow_seen(count, stop);
    probe_pass(keys_, hashes_, state_, stop);
    stop.check();
    for (std::size_t i = 0; i < count; ++i) {
        if (state_[i] != kOpen || !admit(pending_[i], keys_[i], hashes_[i])) continue;
        if (trace_) trace_->push_back(beam_.tokens_of(pending_[i]));
    }
    pending_.clear();
}

}  // namespace kiv::discover
