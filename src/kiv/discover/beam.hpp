// The beam of a search: its members with their tokens, probe values and kept row values, and the offers
// that combine them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kiv/discover/candidate.hpp"
#include "kiv/discover/config.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/discover/fingerprint.hpp"
#include "kiv/discover/ops.hpp"

namespace kiv::discover {

// The operators a search offers: those always offered first, then those behind a switch, each group in
// table order; and whether members keep parts, which they do when the separable operator is offered.
struct OfferedOps {
    std::vector<OpKind> unary, binary;
    bool keeps_parts = false;
};
OfferedOps offered_ops(const SearchConfig& config);

struct Member {
    Expr tokens;
    ProbeValues probe{};
    const double* rows = nullptr;  // values on every row when kept, else null
    std::size_t depth = 1;         // evaluation stack depth, for re-evaluating from tokens
    bool evaluable = true;         // false only for a seed variable that the data lacks
    // When members keep parts: the parts of this member's values at the probe points and, when kept, on
    // every row (kept only along with the rows), so that the operators that use them skip their work.
    std::array<ProbeValues, kParts> probe_parts{};
    std::array<const double*, kParts> row_parts{};
};

// Every member so far, seeds first, then each level's best quarter-beam in rank order. Written only by
// the searching thread, between parallel passes; read by them.
class Beam {
public:
    explicit Beam(bool keeps_parts) noexcept : keeps_parts_(keeps_parts) {}

    std::size_t size() const noexcept { return members_.size(); }
    const Member& operator[](std::size_t i) const noexcept { return members_[i]; }
    bool keeps_parts() const noexcept { return keeps_parts_; }

    // Token count of member i, and of candidate c.
    std::size_t tokens(std::size_t i) const noexcept { return counts_[i]; }
    std::size_t complexity(const Candidate& c) const noexcept {
        if (c.is_leaf()) return counts_[c.a];
        std::size_t k = counts_[c.a] + 1;
        if (arity(c.op()) == 2) k += counts_[c.b()];
        return k;
    }
    Expr tokens_of(const Candidate& c) const;

    // Member i as an operand at the probe points, and on rows [begin, ...) as far as its rows are kept.
    Operand at_probes(std::size_t i) const noexcept {
        const Member& m = members_[i];
        Operand o{m.probe.data(), {}};
        if (keeps_parts_) o.parts = {m.probe_parts[0].data(), m.probe_parts[1].data()};
        return o;
    }
    Operand on_rows(std::size_t i, std::size_t begin) const noexcept {
        const Member& m = members_[i];
        auto at = [begin](const double* p) { return p ? p + begin : nullptr; };
        return {at(m.rows), {at(m.row_parts[0]), at(m.row_parts[1])}};
    }

    // Calls partner(j) for the members j <= i of at most bound tokens, in ascending order.
    template <class Partner>
    void partners(std::size_t i, std::uint64_t bound, Partner partner) const {
        if (bound >= within_.size()) {
            for (std::size_t j = 0; j <= i; ++j) partner(j);
        } else {
            for (const std::uint32_t j : within_[bound]) {
                if (j > i) break;
                partner(j);
            }
        }
    }

    // Adds a member; its probe parts are taken here when members keep parts.
    void append(Member m);

    // Bytes of the members' records, tokens and partner lists.
    std::size_t bytes() const noexcept;
    // Bytes that adding `more` members of at most `tokens` tokens each may allocate for the records and
    // the partner lists (not the tokens themselves).
    std::size_t bytes_to_grow(std::size_t more, std::size_t tokens) const noexcept;

private:
    bool keeps_parts_;
    std::vector<Member> members_;
    std::vector<std::size_t> counts_;  // token count of each member
    // within_[k]: the members of at most k tokens, in ascending order, for k below the largest count.
    std::vector<std::vector<std::uint32_t>> within_;
};

}  // namespace kiv::discover
