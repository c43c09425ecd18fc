// The beam's members, the operators offered to them, and the partner lists by token count.
#include "kiv/discover/beam.hpp"

#include <algorithm>

namespace kiv::discover {

OfferedOps offered_ops(const SearchConfig& config) {
    OfferedOps ops;
    for (const bool switched : {false, true}) {
        for (const OpInfo& o : kOps) {
            const bool offered = switched ? (o.offer == Offer::WithTrig && config.use_trig) ||
                                                (o.offer == Offer::WithKiv && config.use_kiv)
                                          : o.offer == Offer::Always;
            if (offered) (o.arity == 1 ? ops.unary : ops.binary).push_back(o.op);
        }
    }
    ops.keeps_parts = keeps_parts(ops.binary);
    return ops;
}

Expr Beam::tokens_of(const Candidate& c) const {
    Expr e;
    e.reserve(complexity(c));
    e.insert(e.end(), members_[c.a].tokens.begin(), members_[c.a].tokens.end());
    if (c.is_leaf()) return e;
    if (arity(c.op()) == 2) e.insert(e.end(), members_[c.b()].tokens.begin(), members_[c.b()].tokens.end());
    e.push_back(Token::oper(c.op()));
    return e;
}

void Beam::append(Member m) {
    if (keeps_parts_) {
        for (std::size_t p = 0; p < kParts; ++p) part_lanes(p, m.probe.data(), m.probe_parts[p].data(), kProbes);
    }
    const std::size_t c = m.tokens.size();
    const std::uint32_t at = member_index(members_.size());
    // Every member so far has at most within_.size() tokens, so a new bound's list holds them all.
    for (std::size_t k = within_.size(); k < c; ++k) {
        within_.emplace_back(at);
        for (std::uint32_t j = 0; j < at; ++j) within_.back()[j] = j;
    }
    for (std::size_t k = c; k < within_.size(); ++k) within_[k].push_back(at);
    counts_.push_back(c);
    members_.push_back(std::move(m));
}

std::size_t Beam::bytes() const noexcept {
    std::size_t bytes = members_.capacity() * (sizeof(Member) + sizeof(std::size_t));
    for (const Member& m : members_) bytes += m.tokens.capacity() * sizeof(Token);
    for (const auto& list : within_) bytes += list.capacity() * sizeof(std::uint32_t);
    return bytes;
}

std::size_t Beam::bytes_to_grow(std::size_t more, std::size_t tokens) const noexcept {
    std::size_t bytes = more * (sizeof(Member) + sizeof(std::size_t));
    // New bounds list every member, and each list may double its capacity.
    const std::size_t lists = std::max(within_.size(), tokens);
    bytes += 2 * (lists * (members_.size() + more)) * sizeof(std::uint32_t);
    if (members_.capacity() - members_.size() < more) {
        bytes += std::max(2 * members_.capacity(), members_.size() + more) * (sizeof(Member) + sizeof(std::size_t));
    }
    return bytes;
}

}  // namespace kiv::discover
