// Strided runs of doubles as array libraries lay them out: element i at data + i * step bytes.
#pragma once

#include <cstddef>
#include <cstring>

namespace kiv {

// A run read by a kernel. The step may be zero (one value repeated) or negative; data is aligned for
// double unless said otherwise.
struct StridedIn {
    const char* data;
    std::ptrdiff_t step;

    double operator[](std::size_t i) const noexcept {
        double v;
        std::memcpy(&v, data + static_cast<std::ptrdiff_t>(i) * step, sizeof v);
        return v;
    }
};

// A run written by a kernel.
struct StridedOut {
    char* data;
    std::ptrdiff_t step;

    void set(std::size_t i, double v) const noexcept {
        std::memcpy(data + static_cast<std::ptrdiff_t>(i) * step, &v, sizeof v);
    }
};

// A run of fixed-length records (an octonion, a multivector): coefficient k of record p at
// data + p * outer + k * inner bytes.
struct StridedRecordsIn {
    const char* data;
    std::ptrdiff_t outer;
    std::ptrdiff_t inner;

    StridedIn record(std::size_t p) const noexcept {
        return {data + static_cast<std::ptrdiff_t>(p) * outer, inner};
    }
};

struct StridedRecordsOut {
    char* data;
    std::ptrdiff_t outer;
    std::ptrdiff_t inner;

    StridedOut record(std::size_t p) const noexcept {
        return {data + static_cast<std::ptrdiff_t>(p) * outer, inner};
    }
};

// Whether a batch may be cut into chunks that run at once: always, unless its result overlaps an input
// other than element for element (a reduction or running sum reads what an earlier element wrote).
enum class Split { Allowed, Never };

}  // namespace kiv
