// Geometric product of multivectors in a Clifford algebra with a diagonal metric, for one pair or a batch.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kiv/strided.hpp"

namespace kiv {

// A multivector as its blade coefficients: index k belongs to the blade whose factors are the set bits
// of k, in ascending order (0 the scalar, 1 = e_0, 2 = e_1, 3 = e_0 e_1, ...).
using Multivector = std::vector<double>;

// a b under the metric e_m e_m = signature[m]. The result has len(a) coefficients; b is read up to
// len(a) and its surplus ignored. Zero coefficients of either side are skipped. Throws InternalFailure
// ("index out of bounds: ...") when b is too short for a nonzero a, when a shared factor has no
// signature entry, or when a product blade falls outside len(a).
Multivector geometric_product(std::span<const double> a, std::span<const double> b,
                              std::span<const std::int8_t> signature);

// a_batch[p] b_batch[p] for every p below the shorter length, on the worker pool. A failure in any
// pair ends the whole batch (the lowest failing pair's failure is thrown) with no result.
std::vector<Multivector> geometric_product_n(std::span<const Multivector> a_batch,
                                             std::span<const Multivector> b_batch,
                                             std::span<const std::int8_t> signature);

// Most basis vectors geometric_product_strided accepts: records of 2^16 coefficients, whose dense product
// already takes 2^32 multiply-adds.
inline constexpr std::size_t kMaxStridedDims = 16;

// out[p] = a[p] b[p] for p < pairs over strided records of 2^len(signature) coefficients (array views),
// on the worker pool unless split is Never; the same bits as geometric_product. The signature must be
// 1 to kMaxStridedDims entries, each −1, 0 or 1 (checked: InternalFailure otherwise). Each pair is read
// whole before its result is written, so out may be a or b.
void geometric_product_strided(std::size_t pairs, std::span<const std::int8_t> signature, StridedRecordsIn a,
                               StridedRecordsIn b, StridedRecordsOut out, Split split);

}  // namespace kiv
