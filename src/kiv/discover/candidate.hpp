// A search's candidates as (operator, member, member) triples of eight bytes, and the store of those admitted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kiv/discover/ops.hpp"
#include "kiv/failure.hpp"

namespace kiv::discover {

// op(a, b), or op(a) for a unary op (b then equals a and is not read), with a and b beam members; a leaf
// is seed a itself.
class Candidate {
public:
    static constexpr std::size_t kMaxMember = (std::size_t{1} << 28) - 1;

    Candidate() = default;
    Candidate(std::uint32_t a, std::uint32_t b, OpKind op) noexcept
        : a(a), b_op_(b | static_cast<std::uint32_t>(op) << 28) {}
    static Candidate leaf(std::uint32_t seed) noexcept {
        Candidate c;
        c.a = seed;
        c.b_op_ = kLeaf << 28;
        return c;
    }

    std::uint32_t a = 0;
    std::uint32_t b() const noexcept { return b_op_ & kMaxMember; }
    OpKind op() const noexcept { return static_cast<OpKind>(b_op_ >> 28); }
    bool is_leaf() const noexcept { return b_op_ >> 28 == kLeaf; }

private:
    static constexpr std::uint32_t kLeaf = 15;
    static_assert(kOps.size() <= kLeaf, "operator codes and the leaf mark share four bits");
    std::uint32_t b_op_ = 0;  // b in the low 28 bits, the operator code (or the leaf mark) above them
};

// Member number i as a candidate stores it.
inline std::uint32_t member_index(std::size_t i) {
    if (i > Candidate::kMaxMember) throw InternalFailure("beam too large");
    return static_cast<std::uint32_t>(i);
}

// Every candidate admitted so far, in admission order, in fixed-size chunks: growing never copies or
// briefly doubles what is held.
class CandidateStore {
public:
    std::size_t size() const noexcept { return size_; }
    const Candidate& operator[](std::size_t i) const noexcept { return chunks_[i >> kShift][i & kMask]; }
    // Bytes that holding `more` further candidates may allocate.
    std::size_t bytes_to_grow(std::size_t more) const noexcept {
        const std::size_t have = chunks_.size() << kShift;
        if (size_ + more <= have) return 0;
        return ((size_ + more - have) / kChunk + 1) * (kChunk * sizeof(Candidate) + sizeof(void*));
    }
    std::size_t bytes() const noexcept { return chunks_.size() * (kChunk * sizeof(Candidate) + sizeof(void*)); }
    void push_back(const Candidate& c) {
        if (size_ == (chunks_.size() << kShift)) chunks_.push_back(std::make_unique_for_overwrite<Candidate[]>(kChunk));
        chunks_.back()[size_ & kMask] = c;
        ++size_;
    }

private:
    static constexpr std::size_t kShift = 16;
    static constexpr std::size_t kChunk = std::size_t{1} << kShift;
    static constexpr std::size_t kMask = kChunk - 1;
    std::vector<std::unique_ptr<Candidate[]>> chunks_;
    std::size_t size_ = 0;
};

}  // namespace kiv::discover
