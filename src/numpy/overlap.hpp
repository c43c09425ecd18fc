// Whether a loop's output may be cut into chunks that run at once, judged from the memory it spans.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>

#include "kiv/strided.hpp"

namespace kivnp {

// The bytes [lo, hi) touched by count records of len doubles, outer and inner bytes apart.
struct Span {
    const char* lo;
    const char* hi;
};

inline Span extent(const char* data, std::size_t count, std::ptrdiff_t outer, std::size_t len, std::ptrdiff_t inner) {
    const std::ptrdiff_t a = count > 0 ? static_cast<std::ptrdiff_t>(count - 1) * outer : 0;
    const std::ptrdiff_t b = len > 0 ? static_cast<std::ptrdiff_t>(len - 1) * inner : 0;
    const std::ptrdiff_t lo = std::min<std::ptrdiff_t>(a, 0) + std::min<std::ptrdiff_t>(b, 0);
    const std::ptrdiff_t hi = std::max<std::ptrdiff_t>(a, 0) + std::max<std::ptrdiff_t>(b, 0);
    return {data + lo, data + hi + static_cast<std::ptrdiff_t>(sizeof(double))};
}

inline bool disjoint(Span x, Span y) { return x.hi <= y.lo || y.hi <= x.lo; }

// An output of count records (len doubles each) may be split when no two records share memory and
// every input either lies apart from it or is the same records in the same place (in-place work,
// record for record). A reduction (output step 0) or a running sum (output one step behind an input)
// reads what an earlier element wrote, so it stays on one thread, in order.
struct Layout {
    const char* data;
    std::ptrdiff_t outer;
    std::ptrdiff_t inner;
};

inline kiv::Split split_for(std::size_t count, std::size_t len, Layout out, std::initializer_list<Layout> inputs) {
    if (count <= 1) return kiv::Split::Allowed;
    const std::size_t out_bytes =
        len > 0 ? (len - 1) * static_cast<std::size_t>(out.inner < 0 ? -out.inner : out.inner) + sizeof(double) : 0;
    const std::size_t step = static_cast<std::size_t>(out.outer < 0 ? -out.outer : out.outer);
    if (step < out_bytes || step == 0) return kiv::Split::Never;
    const Span o = extent(out.data, count, out.outer, len, out.inner);
    for (const Layout& in : inputs) {
        if (in.data == out.data && in.outer == out.outer && in.inner == out.inner) continue;
        if (!disjoint(o, extent(in.data, count, in.outer, len, in.inner))) return kiv::Split::Never;
    }
    return kiv::Split::Allowed;
}

}  // namespace kivnp
