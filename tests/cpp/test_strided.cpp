// Strided forms of the batch, octonion and geometric-product kernels: the same bits as the contiguous
// forms for any layout, in order when they may not be split.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "kiv/batch.hpp"
#include "kiv/failure.hpp"
#include "kiv/multivector.hpp"
#include "kiv/octonion.hpp"

namespace {

using kiv::Split;
using kiv::StridedIn;
using kiv::StridedOut;
namespace batch = kiv::batch;

std::vector<double> sample(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> d(0.0, 300.0);
    std::vector<double> v(n);
    for (auto& x : v) x = d(gen);
    const double special[] = {0.0, -0.0, 1e-310, 709.782712893384, 709.79, INFINITY, -INFINITY, NAN};
    for (std::size_t i = 0; i < n; i += 97) v[i] = special[(i / 97) % 8];
    return v;
}

void expect_same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(a[i]), std::bit_cast<std::uint64_t>(b[i])) << "at " << i;
    }
}

TEST(Strided, ElementWiseMatchesTheContiguousKernelsForAnyStep) {
    const std::size_t n = 100'003;  // past every threshold of the pool
    const auto xs = sample(2 * n, 1), ys = sample(2 * n, 2);
    for (auto op : {batch::Unary::Exp, batch::Unary::Ln, batch::Unary::Sqrt, batch::Unary::Sin, batch::Unary::Cos}) {
        std::vector<double> every_other(n), want(n), got(n), backwards(n);
        for (std::size_t i = 0; i < n; ++i) every_other[i] = xs[2 * i];
        batch::apply_into(op, every_other, want);
        batch::apply_strided(op, n, {reinterpret_cast<const char*>(xs.data()), 16}, {reinterpret_cast<char*>(got.data()), 8},
                             Split::Allowed);
        expect_same_bits(got, want);
        // Written last to first.
        batch::apply_strided(op, n, {reinterpret_cast<const char*>(xs.data()), 16},
                             {reinterpret_cast<char*>(backwards.data() + n - 1), -8}, Split::Never);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(std::bit_cast<std::uint64_t>(backwards[n - 1 - i]), std::bit_cast<std::uint64_t>(want[i]));
    }
    for (auto op : {batch::Binary::Add, batch::Binary::Sub, batch::Binary::Mul, batch::Binary::Div, batch::Binary::Pow,
                    batch::Binary::Tension}) {
        std::vector<double> lhs(xs.begin(), xs.begin() + n), rhs(n, ys[5]), want(n), got(n);
        batch::apply_into(op, lhs, rhs, want);
        // The right operand is one value repeated (step 0).
        batch::apply_strided(op, n, {reinterpret_cast<const char*>(lhs.data()), 8},
                             {reinterpret_cast<const char*>(&ys[5]), 0}, {reinterpret_cast<char*>(got.data()), 8},
                             Split::Allowed);
        expect_same_bits(got, want);
    }
}

TEST(Strided, AnUnsplitRunningSumReadsWhatItJustWrote) {
    // out[i] = out[i - 1] + x[i], as a running sum lays it out: the input is the output one step behind.
    const std::size_t n = 200'000;
    std::vector<double> acc(n + 1, 0.0), x(n, 1.0);
    batch::apply_strided(batch::Binary::Add, n, {reinterpret_cast<const char*>(acc.data()), 8},
                         {reinterpret_cast<const char*>(x.data()), 8}, {reinterpret_cast<char*>(acc.data() + 1), 8},
                         Split::Never);
    EXPECT_EQ(acc[n], static_cast<double>(n));
}

TEST(Strided, AlgebraMatchesTheBatchKernels) {
    const std::size_t pairs = 3000;
    const auto xs = sample(16 * pairs, 3), ys = sample(16 * pairs, 4);
    std::vector<kiv::Octonion> a(pairs), b(pairs);
    for (std::size_t p = 0; p < pairs; ++p) {
        for (std::size_t k = 0; k < 8; ++k) {
            a[p][k] = xs[8 * p + k];
            b[p][k] = ys[8 * p + k];
        }
    }
    const auto want = kiv::octonion_mul_n(a, b);
    // Coefficients of a stored column-major (pairs apart), b and the result row-major.
    std::vector<double> a_cols(8 * pairs), got(8 * pairs);
    for (std::size_t p = 0; p < pairs; ++p) {
        for (std::size_t k = 0; k < 8; ++k) a_cols[k * pairs + p] = a[p][k];
    }
    kiv::octonion_mul_strided(pairs, {reinterpret_cast<const char*>(a_cols.data()), 8, static_cast<std::ptrdiff_t>(8 * pairs)},
                              {reinterpret_cast<const char*>(ys.data()), 64, 8}, {reinterpret_cast<char*>(got.data()), 64, 8},
                              Split::Allowed);
    for (std::size_t p = 0; p < pairs; ++p) {
        for (std::size_t k = 0; k < 8; ++k) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(got[8 * p + k]), std::bit_cast<std::uint64_t>(want[p][k]));
        }
    }

    const std::vector<std::int8_t> sig = {1, -1, 0, -1};
    std::vector<kiv::Multivector> ma(pairs), mb(pairs);
    for (std::size_t p = 0; p < pairs; ++p) {
        ma[p].assign(xs.begin() + 16 * p, xs.begin() + 16 * p + 16);
        mb[p].assign(ys.begin() + 16 * p, ys.begin() + 16 * p + 16);
    }
    const auto mwant = kiv::geometric_product_n(ma, mb, sig);
    std::vector<double> mgot(xs.begin(), xs.end());  // in place over a's storage
    kiv::geometric_product_strided(pairs, sig, {reinterpret_cast<const char*>(mgot.data()), 128, 8},
                                   {reinterpret_cast<const char*>(ys.data()), 128, 8}, {reinterpret_cast<char*>(mgot.data()), 128, 8},
                                   Split::Allowed);
    for (std::size_t p = 0; p < pairs; ++p) {
        for (std::size_t k = 0; k < 16; ++k) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(mgot[16 * p + k]), std::bit_cast<std::uint64_t>(mwant[p][k]));
        }
    }
}

TEST(Strided, GeometricProductRefusesSignaturesOutsideItsForm) {
    double x[2] = {1.0, 2.0};
    const kiv::StridedRecordsIn in{reinterpret_cast<const char*>(x), 16, 8};
    const kiv::StridedRecordsOut out{reinterpret_cast<char*>(x), 16, 8};
    for (const std::vector<std::int8_t>& sig : {std::vector<std::int8_t>{}, std::vector<std::int8_t>{2},
                                                 std::vector<std::int8_t>(kiv::kMaxStridedDims + 1, 1)}) {
        EXPECT_THROW(kiv::geometric_product_strided(1, sig, in, in, out, Split::Never), kiv::InternalFailure);
    }
}

}  // namespace
