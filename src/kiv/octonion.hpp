// Octonion multiplication over the constant unit table, for one pair or a batch.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "kiv/strided.hpp"

namespace kiv {

// c_0 e_0 + c_1 e_1 + ... + c_7 e_7, e_0 the real unit.
using Octonion = std::array<double, 8>;

// One entry of the unit table: e_i e_j = sign · e_index.
struct UnitProduct {
    std::int8_t sign;
    std::uint8_t index;
};

// Row i, column j: the product e_i e_j (row i is the left factor).
extern const std::array<std::array<UnitProduct, 8>, 8> kOctonionTable;

// a b; zero coefficients of either side are skipped, so a zero never meets an infinity.
Octonion octonion_mul(const Octonion& a, const Octonion& b) noexcept;

// a_batch[p] b_batch[p] for every p below the shorter length, on the worker pool.
std::vector<Octonion> octonion_mul_n(std::span<const Octonion> a_batch, std::span<const Octonion> b_batch);

// out[p] = a[p] b[p] for p < pairs over strided records of 8 coefficients (array views), on the worker
// pool unless split is Never. Each pair is read whole before its result is written, so out may be a or b.
void octonion_mul_strided(std::size_t pairs, StridedRecordsIn a, StridedRecordsIn b, StridedRecordsOut out,
                          Split split);

}  // namespace kiv
