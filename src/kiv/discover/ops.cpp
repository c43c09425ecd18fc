// Batched operators: one lane loop per table row, built from the row's scalar kernel, and the routes of an
// operand pass (plain lanes, from an operand's part, from two operands' parts).
#include "kiv/discover/ops.hpp"

#include <algorithm>
#include <utility>

#include "kiv/primitives_n.hpp"
#include "kiv/vmath.hpp"

namespace kiv::discover {
namespace {

// The result check of a whole pass in two operations a lane: r - r is +0 for a finite r and NaN for an
// infinite or NaN one, and a NaN, once in the sum, stays there.
struct FiniteCheck {
    double sum = 0.0;
    void add(double r) noexcept { sum = sum + (r - r); }
    bool all_finite() const noexcept { return sum == sum; }
};

// Where a pass's results go: stored, scored against a target, or only checked.
struct Store {
    double* out;
    void lane(std::size_t i, double r) noexcept { out[i] = r; }
};
struct Score {
    const double* y;
    double sum;
    void lane(std::size_t i, double r) noexcept {
        const double d = r - y[i];
        sum = sum + d * d;
    }
};
struct Comoments {
    TargetLanes target;
    Moments acc;
    void lane(std::size_t i, double r) noexcept { acc.add(r, target.inv[i], target.dev[i]); }
};
struct Discard {
    void lane(std::size_t, double) noexcept {}
};

constexpr std::size_t kExp = static_cast<std::size_t>(OpKind::Exp);
constexpr std::size_t kLn = static_cast<std::size_t>(OpKind::Ln);
constexpr std::size_t kKiv = static_cast<std::size_t>(OpKind::Kiv);

// Lanes per block of the operators that run on the vector exp and log.
constexpr std::size_t kBlock = 256;

// exp, ln and the kiv operator: the kernel's results a block at a time on the vector path (the same bits;
// where ln's guard trips, the 0 the kernel leaves in r and no logarithm), then the guard, the check and
// the sink lane by lane, as below. A block is read in full before any of its lanes is stored, so out may
// alias a or b.
template <std::size_t I, class Sink>
bool vector_lanes(const double* a, const double* b, std::size_t n, Sink& sink) noexcept {
    bool bad = false;
    FiniteCheck finite;
    double r[kBlock];
    for (std::size_t s = 0; s < n; s += kBlock) {
        const std::size_t m = std::min(kBlock, n - s);
        if constexpr (I == kExp) {
            vmath::exp(a + s, r, m);
        } else if constexpr (I == kLn) {
            vmath::log(a + s, r, m, [](double v) noexcept { return v <= 0.0 ? 0.0 : std::log(v); }, {});
        } else {
            search_kiv_n(a + s, b + s, r, m);
        }
        for (std::size_t k = 0; k < m; ++k) {
            if constexpr (I == kLn) {
                if (a[s + k] <= 0.0) {
                    r[k] = 0.0;
                    bad = true;
                }
            }
            finite.add(r[k]);
            sink.lane(s + k, r[k]);
        }
    }
    return !bad && finite.all_finite();
}

// The guard and the result check are folded into flags so the loop has no early exit; a failed lane
// rejects the whole pass. The kernel is a constant here, so it is inlined into the loop.
template <std::size_t I, class Sink>
bool lanes(const double* a, const double* b, std::size_t n, Sink& sink) noexcept {
    if constexpr (I == kExp || I == kLn || I == kKiv) return vector_lanes<I>(a, b, n, sink);
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
        sink.lane(i, r);
    }
    return !bad && finite.all_finite();
}

// Where the row's predicate holds the kept part is the result; elsewhere the kernel runs.
template <std::size_t I, class Sink>
bool from_part_lanes(const double* a, const double* part, std::size_t n, Sink& sink) noexcept {
    constexpr ScalarKernel kernel = kOps[I].kernel;
    constexpr auto holds = kOps[I].parts.holds;
    bool bad = false;
    FiniteCheck finite;
    for (std::size_t i = 0; i < n; ++i) {
        double r = part[i];
        bool ok = true;
        if (!holds(a[i])) ok = kernel(a[i], 0.0, r);
        bad |= !ok;
        finite.add(r);
        sink.lane(i, r);
    }
    return !bad && finite.all_finite();
}

// The separable operator from kept parts: part 0 of its first operand minus part 1 of its second.
template <class Sink>
bool from_parts_lanes(const double* first, const double* second, std::size_t n, Sink& sink) noexcept {
    FiniteCheck finite;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = first[i] - second[i];
        finite.add(r);
        sink.lane(i, r);
    }
    return finite.all_finite();
}

const double* offset(const double* p, std::size_t k) noexcept { return p ? p + k : nullptr; }

// A pass that scores lanes [0, m) against y and checks lanes [m, n); pass(from, count, sink) runs the
// pass's lanes [from, from + count).
template <class Pass>
bool scored(const double* y, std::size_t m, std::size_t n, double& sum, Pass pass) noexcept {
    Score score{y, sum};
    bool ok = pass(0, m, score);
    sum = score.sum;
    if (m < n) {
        Discard none;
        ok = pass(m, n - m, none) && ok;
    }
    return ok;
}

// The same with the lanes [0, m) added to moments.
template <class Pass>
bool with_moments(const TargetLanes& target, std::size_t m, std::size_t n, Moments& acc, Pass pass) noexcept {
    Comoments sink{target, acc};
    bool ok = pass(0, m, sink);
    acc = sink.acc;
    if (m < n) {
        Discard none;
        ok = pass(m, n - m, none) && ok;
    }
    return ok;
}

// The storing, scoring and moments forms of each route, in the shape of StoreKernel, ScoreKernel and
// MomentsKernel.
template <std::size_t I>
bool store_lanes(const double* a, const double* b, double* out, std::size_t n) noexcept {
    Store store{out};
    return lanes<I>(a, b, n, store);
}

template <std::size_t I>
bool score_lanes(const double* a, const double* b, const double* y, std::size_t m, std::size_t n,
                 double& sum) noexcept {
    return scored(y, m, n, sum, [&](std::size_t from, std::size_t count, auto& sink) {
        return lanes<I>(a + from, offset(b, from), count, sink);
    });
}

template <std::size_t I>
bool moments_lanes(const double* a, const double* b, const TargetLanes& target, std::size_t m, std::size_t n,
                   Moments& acc) noexcept {
    return with_moments(target, m, n, acc, [&](std::size_t from, std::size_t count, auto& sink) {
        return lanes<I>(a + from, offset(b, from), count, sink);
    });
}

template <std::size_t I>
bool store_from_part(const double* a, const double* part, double* out, std::size_t n) noexcept {
    Store store{out};
    return from_part_lanes<I>(a, part, n, store);
}

template <std::size_t I>
bool score_from_part(const double* a, const double* part, const double* y, std::size_t m, std::size_t n,
                     double& sum) noexcept {
    return scored(y, m, n, sum, [&](std::size_t from, std::size_t count, auto& sink) {
        return from_part_lanes<I>(a + from, part + from, count, sink);
    });
}

template <std::size_t I>
bool moments_from_part(const double* a, const double* part, const TargetLanes& target, std::size_t m,
                       std::size_t n, Moments& acc) noexcept {
    return with_moments(target, m, n, acc, [&](std::size_t from, std::size_t count, auto& sink) {
        return from_part_lanes<I>(a + from, part + from, count, sink);
    });
}

bool store_from_parts(const double* first, const double* second, double* out, std::size_t n) noexcept {
    Store store{out};
    return from_parts_lanes(first, second, n, store);
}

bool score_from_parts(const double* first, const double* second, const double* y, std::size_t m, std::size_t n,
                      double& sum) noexcept {
    return scored(y, m, n, sum, [&](std::size_t from, std::size_t count, auto& sink) {
        return from_parts_lanes(first + from, second + from, count, sink);
    });
}

bool moments_from_parts(const double* first, const double* second, const TargetLanes& target, std::size_t m,
                        std::size_t n, Moments& acc) noexcept {
    return with_moments(target, m, n, acc, [&](std::size_t from, std::size_t count, auto& sink) {
        return from_parts_lanes(first + from, second + from, count, sink);
    });
}

bool refuse_store(const double*, const double*, double*, std::size_t) noexcept { return false; }
bool refuse_score(const double*, const double*, const double*, std::size_t, std::size_t, double&) noexcept {
    return false;
}
bool refuse_moments(const double*, const double*, const TargetLanes&, std::size_t, std::size_t, Moments&) noexcept {
    return false;
}

template <std::size_t I>
constexpr RowRoutes row_routes() {
    if constexpr (kOps[I].parts.role == Parts::Role::FromPart) {
        return {{&store_lanes<I>, &score_lanes<I>, &moments_lanes<I>},
                {&store_from_part<I>, &score_from_part<I>, &moments_from_part<I>}};
    } else {
        return {{&store_lanes<I>, &score_lanes<I>, &moments_lanes<I>}, {nullptr, nullptr, nullptr}};
    }
}

template <std::size_t... I>
constexpr std::array<RowRoutes, sizeof...(I)> route_table(std::index_sequence<I...>) {
    return {row_routes<I>()...};
}

// The separable operator's row, kOps.size() when the table has none.
constexpr std::size_t separable_row() {
    for (std::size_t i = 0; i < kOps.size(); ++i) {
        if (kOps[i].parts.role == Parts::Role::Separable) return i;
    }
    return kOps.size();
}
constexpr std::size_t kSeparable = separable_row();

}  // namespace

const std::array<RowRoutes, kOps.size()> kRowRoutes = route_table(std::make_index_sequence<kOps.size()>{});
const RouteKernels kFromParts = {&store_from_parts, &score_from_parts, &moments_from_parts};
const RouteKernels kRefused = {&refuse_store, &refuse_score, &refuse_moments};

bool apply_lanes(OpKind op, const double* a, const double* b, double* out, std::size_t n) noexcept {
    if (!is_op(op)) return false;
    return kRowRoutes[static_cast<std::size_t>(op)].lanes.store(a, b, out, n);
}

void part_lanes(std::size_t p, const double* a, double* out, std::size_t n) noexcept {
    if constexpr (kSeparable == kKiv) {
        // The kiv row's parts are search_kiv_exp and floored_ln, whose array forms run on the vector path
        // (a test holds the row's part kernels to them lane for lane).
        if (p == 0) {
            search_kiv_exp_n(a, out, n);
        } else {
            floored_ln_n(a, out, n);
        }
    } else if constexpr (kSeparable < kOps.size()) {
        constexpr std::array<PartKernel, kParts> parts = kOps[kSeparable].parts.kernels;
        if (p == 0) {
            for (std::size_t i = 0; i < n; ++i) out[i] = parts[0](a[i]);
        } else {
            for (std::size_t i = 0; i < n; ++i) out[i] = parts[1](a[i]);
        }
    }
}

bool keeps_parts(std::span<const OpKind> offered) noexcept {
    for (const OpKind op : offered) {
        if (is_op(op) && op_info(op).parts.role == Parts::Role::Separable) return true;
    }
    return false;
}

}  // namespace kiv::discover
