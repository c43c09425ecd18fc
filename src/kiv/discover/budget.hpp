// The memory of a search: growth refused before it is allocated, the allowance for kept row values, and the
// record of where the bytes go.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kiv/discover/ops.hpp"
#include "kiv/discover/search.hpp"

namespace kiv::discover {

// The bytes each holder of memory in a search holds at one moment (see SearchFootprint).
struct FootprintNow {
    std::size_t seen_set = 0, candidates = 0, scores = 0, cached_rows = 0, members = 0;
    std::size_t admitted = 0, level_size = 0;
};

class MemoryBudget {
public:
    explicit MemoryBudget(SearchFootprint* footprint) noexcept : footprint_(footprint) {}

    // The level being built, for the messages.
    void at_level(std::uint64_t level) noexcept { level_ = level; }
    std::uint64_t level() const noexcept { return level_; }

    // Throws kiv::OutOfMemory, naming the level, unless `bytes` more can be allocated now (available
    // memory, the memory cgroups, the address-space limit).
    void afford(std::size_t bytes) const;

    // True when a footprint is asked for; only then is it worth measuring the parts.
    bool recording() const noexcept { return footprint_ != nullptr; }
    // Raises each holder's recorded peak to what it holds now.
    void record(const FootprintNow& now) const noexcept;

private:
    SearchFootprint* footprint_;
    std::uint64_t level_ = 0;
};

// Storage for members' values on every row and their parts, taken from an allowance of bytes. Parts may
// take the allowance down to a third, which stays for the rows of later members: a member without parts
// costs the operators that use them their own work on each row, one without rows a re-evaluation of all
// its tokens.
class RowCache {
public:
    RowCache(std::size_t allowance, std::size_t rows) noexcept : allowance_(allowance), left_(allowance), rows_(rows) {}

    // Storage for one member's values on every row; null when the allowance is spent or there are no rows.
    double* take_rows();
    // Storage for one member's parts on every row; nulls when they do not fit.
    std::array<double*, kParts> take_parts();
    // Bytes that taking, member after member, rows for `members` members (and parts when with_parts)
    // would take from the allowance.
    std::size_t bytes_for(std::size_t members, bool with_parts) const noexcept;

    std::size_t rows() const noexcept { return rows_; }
    std::size_t used() const noexcept { return allowance_ - left_; }

private:
    bool parts_fit(std::size_t left) const noexcept {
        const std::size_t bytes = kParts * rows_ * sizeof(double);
        return rows_ > 0 && bytes <= left && left - bytes >= allowance_ / 3;
    }

    std::size_t allowance_, left_, rows_;
    std::vector<std::unique_ptr<double[]>> store_;
};

}  // namespace kiv::discover
