// Batched operators: one lane loop per table row, built from the row's scalar kernel.
#include "kiv/discover/ops.hpp"

#include <utility>

namespace kiv::discover {
namespace {

using LaneKernel = bool (*)(const double* a, const double* b, double* out, std::size_t n) noexcept;

// The result check of a whole pass in two operations a lane: r - r is +0 for a finite r and NaN for an
// infinite or NaN one, and a NaN, once in the sum, stays there.
struct FiniteCheck {
    double sum = 0.0;
    void add(double r) noexcept { sum = sum + (r - r); }
    bool all_finite() const noexcept { return sum == sum; }
};

// The guard and the result check are folded into flags so the loop has no early exit; a failed lane
// rejects the whole pass. The kernel is a constant here, so it is inlined into the loop.
template <std::size_t I>
bool lanes(const double* a, const double* b, double* out, std::size_t n) noexcept {
    constexpr ScalarKernel kernel = kOps[I].kernel;
    bool bad = false;
    FiniteCheck finite;
    for (std::size_t i = 0; i < n; ++i) {
        double r = 0.0;
        bool ok;
        if constexpr (kOps[I].arity == 1) {
            ok = kernel(a[i], 0.0, r);
        } else {
            ok = kernel(a[i], b[i], r);
        }
        bad |= !ok;
        finite.add(r);
        out[i] = r;
    }
    return !bad && finite.all_finite();
}

// Where the row's predicate holds the kept part is the result; elsewhere the kernel runs.
template <std::size_t I>
bool part_lanes(const double* a, const double* part, double* out, std::size_t n) noexcept {
    constexpr ScalarKernel kernel = kOps[I].kernel;
    constexpr auto holds = kOps[I].part_holds;
    bool bad = false;
    FiniteCheck finite;
    for (std::size_t i = 0; i < n; ++i) {
        double r = part[i];
        bool ok = true;
        if (!holds(a[i])) ok = kernel(a[i], 0.0, r);
        bad |= !ok;
        finite.add(r);
        out[i] = r;
    }
    return !bad && finite.all_finite();
}

template <std::size_t... I>
constexpr std::array<LaneKernel, sizeof...(I)> lane_table(std::index_sequence<I...>) {
    return {&lanes<I>...};
}

constexpr auto kLanes = lane_table(std::make_index_sequence<kOps.size()>{});

}  // namespace

bool apply_lanes_from_part(OpKind op, const double* a, const double* part, double* out, std::size_t n) noexcept {
    switch (op) {
        case OpKind::Exp: return part_lanes<static_cast<std::size_t>(OpKind::Exp)>(a, part, out, n);
        case OpKind::Ln: return part_lanes<static_cast<std::size_t>(OpKind::Ln)>(a, part, out, n);
        default: return apply_lanes(op, a, nullptr, out, n);
    }
}

bool apply_lanes(OpKind op, const double* a, const double* b, double* out, std::size_t n) noexcept {
    if (!is_op(op)) return false;
    return kLanes[static_cast<std::size_t>(op)](a, b, out, n);
}

void split_part_lanes(std::size_t p, const double* a, double* out, std::size_t n) noexcept {
    constexpr std::array<PartKernel, 2> parts = op_info(kSplitOp).parts;
    if (p == 0) {
        for (std::size_t i = 0; i < n; ++i) out[i] = parts[0](a[i]);
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = parts[1](a[i]);
    }
}

bool split_lanes(const double* first, const double* second, double* out, std::size_t n) noexcept {
    FiniteCheck finite;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = first[i] - second[i];
        finite.add(r);
        out[i] = r;
    }
    return finite.all_finite();
}

}  // namespace kiv::discover
