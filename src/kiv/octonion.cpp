// The octonion unit table built from the seven index triples (t, t+1, t+3) mod 7, and the product.
#include "kiv/octonion.hpp"

#include <algorithm>
#include <cstddef>

#include "kiv/opaque.hpp"
#include "kiv/pool.hpp"

namespace kiv {
namespace {

// Pairs per chunk below which handing work to another thread costs more than it saves.
constexpr std::size_t kMinChunk = 1024;

constexpr UnitProduct P(int sign, int index) {
    return {static_cast<std::int8_t>(sign), static_cast<std::uint8_t>(index)};
}

}  // namespace

const std::array<std::array<UnitProduct, 8>, 8> kOctonionTable = {{
    {P(+1, 0), P(+1, 1), P(+1, 2), P(+1, 3), P(+1, 4), P(+1, 5), P(+1, 6), P(+1, 7)},
    {P(+1, 1), P(-1, 0), P(+1, 4), P(+1, 7), P(-1, 2), P(+1, 6), P(-1, 5), P(-1, 3)},
    {P(+1, 2), P(-1, 4), P(-1, 0), P(+1, 5), P(+1, 1), P(-1, 3), P(+1, 7), P(-1, 6)},
    {P(+1, 3), P(-1, 7), P(-1, 5), P(-1, 0), P(+1, 6), P(+1, 2), P(-1, 4), P(+1, 1)},
    {P(+1, 4), P(+1, 2), P(-1, 1), P(-1, 6), P(-1, 0), P(+1, 7), P(+1, 3), P(-1, 5)},
    {P(+1, 5), P(-1, 6), P(+1, 3), P(-1, 2), P(-1, 7), P(-1, 0), P(+1, 1), P(+1, 4)},
    {P(+1, 6), P(+1, 5), P(-1, 7), P(+1, 4), P(-1, 3), P(-1, 1), P(-1, 0), P(+1, 2)},
    {P(+1, 7), P(+1, 3), P(+1, 6), P(-1, 1), P(+1, 5), P(-1, 4), P(-1, 2), P(-1, 0)},
}};

// Kept out of line: every caller runs the same machine code, so the NaN a product of two NaNs keeps (the
// hardware's choice between the operands the compiler put first) is the same for the batch and strided forms.
[[gnu::noinline]] Octonion octonion_mul(const Octonion& a, const Octonion& b) noexcept {
    Octonion r{};
    for (std::size_t i = 0; i < 8; ++i) {
        const double ai = a[i];
        if (ai == 0.0) continue;
        // s × a[i] for both signs, each a real multiplication.
        const double plus = opaque(1.0) * ai;
        const double minus = opaque(-1.0) * ai;
        const auto& row = kOctonionTable[i];
        for (std::size_t j = 0; j < 8; ++j) {
            const double bj = b[j];
            if (bj == 0.0) continue;
            const UnitProduct u = row[j];
            r[u.index] = (u.sign > 0 ? plus : minus) * bj + r[u.index];
        }
    }
    return r;
}

std::vector<Octonion> octonion_mul_n(std::span<const Octonion> a_batch, std::span<const Octonion> b_batch) {
    std::vector<Octonion> out(std::min(a_batch.size(), b_batch.size()));
    const Octonion* as = a_batch.data();
    const Octonion* bs = b_batch.data();
    Octonion* dst = out.data();
    pool::parallel_for(out.size(), kMinChunk, [=](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) dst[p] = octonion_mul(as[p], bs[p]);
    });
    return out;
}

void octonion_mul_strided(std::size_t pairs, StridedRecordsIn a, StridedRecordsIn b, StridedRecordsOut out,
                          Split split) {
    auto body = [=](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) {
            Octonion x, y;
            const StridedIn ra = a.record(p), rb = b.record(p);
            for (std::size_t k = 0; k < 8; ++k) {
                x[k] = ra[k];
                y[k] = rb[k];
            }
            const Octonion r = octonion_mul(x, y);
            const StridedOut ro = out.record(p);
            for (std::size_t k = 0; k < 8; ++k) ro.set(k, r[k]);
        }
    };
    if (split == Split::Allowed) {
        pool::parallel_for(pairs, kMinChunk, body);
    } else if (pairs > 0) {
        body(0, pairs);
    }
}

}  // namespace kiv
