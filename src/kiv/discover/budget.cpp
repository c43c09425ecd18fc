// Memory checks before a level grows, the row-value allowance, and the footprint record.
#include "kiv/discover/budget.hpp"

#include <algorithm>
#include <cstdio>

#include "kiv/memory.hpp"

namespace kiv::discover {

void MemoryBudget::afford(std::size_t bytes) const {
    std::size_t available = 0;
    if (kiv::memory_fits(bytes, available)) return;
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    char text[200];
    std::snprintf(text, sizeof text,
                  "formula search: level %llu needs %llu MiB more memory, but only %llu MiB are available; "
                  "try a smaller beam_width or max_complexity",
                  static_cast<unsigned long long>(level_), static_cast<unsigned long long>(bytes / kMiB + 1),
                  static_cast<unsigned long long>(available / kMiB));
    throw kiv::OutOfMemory(text);
}

void MemoryBudget::record(const FootprintNow& now) const noexcept {
    SearchFootprint* f = footprint_;
    if (!f) return;
    const std::size_t parts[] = {now.seen_set, now.candidates, now.scores, now.cached_rows, now.members};
    std::size_t* peaks[] = {&f->seen_set, &f->candidates, &f->scores, &f->cached_rows, &f->members};
    std::size_t total = 0;
    for (std::size_t k = 0; k < std::size(parts); ++k) {
        *peaks[k] = std::max(*peaks[k], parts[k]);
        total += parts[k];
    }
    f->total = std::max(f->total, total);
    f->candidates_admitted = now.admitted;
    f->largest_level = std::max(f->largest_level, now.level_size);
}

double* RowCache::take_rows() {
    const std::size_t bytes = rows_ * sizeof(double);
    if (rows_ == 0 || bytes > left_) return nullptr;
    left_ -= bytes;
    store_.push_back(std::make_unique_for_overwrite<double[]>(rows_));
    return store_.back().get();
}

std::array<double*, kParts> RowCache::take_parts() {
    if (!parts_fit(left_)) return {};
    left_ -= kParts * rows_ * sizeof(double);
    std::array<double*, kParts> out;
    for (double*& p : out) {
        store_.push_back(std::make_unique_for_overwrite<double[]>(rows_));
        p = store_.back().get();
    }
    return out;
}

std::size_t RowCache::bytes_for(std::size_t members, bool with_parts) const noexcept {
    if (rows_ == 0) return 0;
    const std::size_t row_bytes = rows_ * sizeof(double);
    std::size_t left = left_;
    for (std::size_t k = 0; k < members && left >= row_bytes; ++k) {
        left -= row_bytes;
        if (with_parts && parts_fit(left)) left -= kParts * row_bytes;
    }
    return left_ - left;
}

}  // namespace kiv::discover
