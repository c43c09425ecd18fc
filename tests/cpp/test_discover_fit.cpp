// Scoring candidates: the error over the common rows, the penalised score, and scoring token expressions.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "discover_test_util.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/failure.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

double rmse(const std::vector<double>& pred, const std::vector<double>& y) {
    ScoreSum sum(y);
    sum.add(0, pred.data(), pred.size());
    return sum.rmse();
}

TEST(Rmse, DividesByTheTargetLength) {
    EXPECT_EQ(rmse(std::vector<double>{1.0, 2.0}, std::vector<double>{1.0, 2.0}), 0.0);
    // Two rows, four targets: (1 + 4) / 4.
    EXPECT_EQ(rmse(std::vector<double>{1.0, 2.0}, std::vector<double>{0.0, 0.0, 5.0, 5.0}), std::sqrt(5.0 / 4.0));
    // Four rows, two targets: only the first two rows count.
    EXPECT_EQ(rmse(std::vector<double>{1.0, 2.0, 9.0, 9.0}, std::vector<double>{0.0, 0.0}), std::sqrt(5.0 / 2.0));
    EXPECT_TRUE(std::isnan(rmse(std::vector<double>{1.0}, std::vector<double>{})));
    double z = rmse(std::vector<double>{}, std::vector<double>{1.0, 2.0});
    EXPECT_EQ(z, 0.0);
    EXPECT_TRUE(std::signbit(z));
    EXPECT_TRUE(std::isnan(rmse(std::vector<double>{1.0, 2.0}, std::vector<double>{std::nan(""), 2.0})));
}

// Batches of any size, ending anywhere against the target, sum the same terms in the same order.
TEST(Rmse, BatchesSumInRowOrder) {
    std::vector<double> pred, y;
    for (int i = 0; i < 700; ++i) {
        pred.push_back(std::sin(0.37 * i) * 1e3);
        y.push_back(std::cos(0.11 * i));
    }
    y.resize(613);
    double want = -0.0;
    for (std::size_t j = 0; j < y.size(); ++j) want = want + (pred[j] - y[j]) * (pred[j] - y[j]);
    want = std::sqrt(want / 613.0);
    for (std::size_t batch : {1u, 7u, 256u, 700u}) {
        ScoreSum sum(y);
        for (std::size_t r = 0; r < pred.size(); r += batch) sum.add(r, pred.data() + r, std::min(batch, pred.size() - r));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(sum.rmse()), std::bit_cast<std::uint64_t>(want)) << batch;
        EXPECT_EQ(sum.score(5, 0.001), want * (5 * 0.001 + 1.0));
    }
}

TEST(Score, PenaltyScalesWithComplexity) {
    EXPECT_EQ(penalised_score(0.5, 3, 0.001), 0.5 * (3.0 * 0.001 + 1.0));
    EXPECT_EQ(penalised_score(0.5, 3, 0.001), 0.5015);
    EXPECT_EQ(penalised_score(2.0, 8, 0.001), 2.0 * (8 * 0.001 + 1.0));
    EXPECT_EQ(penalised_score(0.0, 100, 0.001), 0.0);
}

TEST(FitScore, ScoresOrFails) {
    Columns x = {{1.0, 2.0, 3.0}};
    std::vector<double> y = {2.0, 4.0, 6.5};
    SearchConfig cfg;
    EXPECT_EQ(fit_score(E({V(0), V(0), O(OpKind::Add)}), x, y, cfg), std::sqrt(0.25 / 3.0) * (3.0 * 0.001 + 1.0));
    EXPECT_FALSE(fit_score(E({V(0), C(2.0), O(OpKind::Sub), O(OpKind::Ln)}), x, y, cfg));
    EXPECT_FALSE(fit_score(E({V(0), O(OpKind::Add)}), x, y, cfg));
}

TEST(FitScore, DataErrorsRaise) {
    try {
        (void)fit_score(E({C(1.0)}), {{1.0, 2.0}, {1.0}}, std::vector<double>{1.0, 2.0}, SearchConfig{});
        FAIL() << "expected a failure";
    } catch (const kiv::InternalFailure& f) {
        EXPECT_STREQ(f.what(), "index out of bounds: the len is 1 but the index is 1");
    }
    EXPECT_THROW((void)fit_score(E({C(1.0)}), {}, std::vector<double>{1.0}, SearchConfig{}), kiv::InternalFailure);
}

}  // namespace
